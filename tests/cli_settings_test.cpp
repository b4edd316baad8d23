// The program reads a settings document for the dictionary and the roles of the fields, the
// component reads the same document on its own: both must see the same features, the same
// fields that decide whether a case is valid, and the same use of the fold field.
#ifdef KNN_CLI_PATH

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "Settings.h"
#include "SettingsDocument.h"
#include "knn/settings/SettingsReader.h"

using namespace knn_test;

namespace {

std::vector<int> Sorted(std::vector<int> fields) {
    std::sort(fields.begin(), fields.end());
    return fields;
}

TEST(ProgramSettings, AgreeWithTheComponentOnTheFieldsItUses) {
    // Folds from a field that is also a predictor, with case labels.
    SettingsDocument folds = AutoK("cls", 2, 5);
    folds.Predictor("fold")
        .Predictor("label")
        .Param("use_caselabels", "bool", "true")
        .Param("CaseLabelVar", "string", "label");
    // K chosen with the features: the fold field is neither used nor taken from the features.
    SettingsDocument joint = FeatureSelection("y");
    joint.Predictor("fold")
        .Param("IsAutoKSelection", "bool", "true")
        .Param("VFoldVar", "string", "fold")
        .Param("VFoldValue", "int", "3")
        .Array("ForcedVariables", "string", {"x2"})
        .Param("NSpecifiedFeatures", "int", "1");
    // Fixed features, one of them no predictor.
    SettingsDocument fixed;
    fixed.Roles()
        .Target("cls")
        .Predictor("x1")
        .Predictor("x2")
        .Array("SpecifiedFeature", "string", {"x1", "x3"})
        .Array("SpecifiedFeatureWeight", "double", {"1", "2"});
    // No target: the fold field named but not used, so it stays a feature.
    SettingsDocument untargeted;
    untargeted.Roles().Predictor("x1").Predictor("fold").Param("VFoldVar", "string", "fold");

    for (const SettingsDocument* document : {&folds, &joint, &fixed, &untargeted}) {
        KNN_800::SettingsReader reader;
        std::istringstream in(document->Xml());
        const VelCommon_940::VelStatus status = reader.Read(in);
        ASSERT_FALSE(status.IsError()) << status.GetMessage() << "\n" << document->Xml();
        const KNN_800::KNNSettings& component = reader.Settings();
        const knncli::AnalysisSettings program = knncli::ParseSettings(document->Xml(), "s.xml");

        EXPECT_EQ(Sorted(program.features), Sorted(component.Features)) << document->Xml();
        EXPECT_EQ(program.UsesFolds(), component.VFoldVariable >= 0) << document->Xml();
        // The case label is read with every case, but never makes one invalid.
        std::vector<int> decisive = component.UsedVariables;
        std::erase(decisive, component.CaseLabelVariable);
        EXPECT_EQ(Sorted(program.usedFields), Sorted(decisive)) << document->Xml();
    }
}

}  // namespace

#endif  // KNN_CLI_PATH
