// The settings reader: which document yields which settings, and which status names which
// fault.
#include <gtest/gtest.h>

#include <sstream>

#include "SettingsDocument.h"
#include "VelLimits.h"
#include "knn/base/KNNWarning.h"
#include "knn/base/StatusCodes.h"
#include "knn/data/KNNContVariable.h"
#include "knn/settings/SettingsReader.h"

using knn_test::SettingsDocument;
using namespace knn_test;
using KNN_800::SettingsReader;
using VelCommon_940::VelStatus;

namespace {

VelStatus ReadDocument(const SettingsDocument& document, SettingsReader& reader) {
    std::istringstream in(document.Xml());
    return reader.Read(in);
}

// A classification with the usual roles and three continuous predictors.
SettingsDocument Basic() {
    SettingsDocument d;
    d.Roles().Target("cls").Predictor("x1").Predictor("x2").Predictor("x3");
    return d;
}

}  // namespace

TEST(SettingsReader, DefaultsOfAMinimalDocument) {
    SettingsReader reader;
    const VelStatus status = ReadDocument(Basic(), reader);
    ASSERT_TRUE(status.IsOK()) << status.GetErrorCode() << " " << status.GetMessage();
    const KNN_800::KNNSettings& s = reader.Settings();
    EXPECT_EQ(s.CaseIDVariable, kId);
    EXPECT_EQ(s.FocalCaseVariable, kFocal);
    EXPECT_TRUE(s.IfSpecifiedFocalCaseVariable);
    EXPECT_EQ(s.CaseLabelVariable, -1);
    EXPECT_EQ(s.RescaleMethod, 0);
    EXPECT_EQ(s.DistMetric, 0);
    EXPECT_EQ(s.ComputePredValFunc, 0);
    EXPECT_EQ(s.FileTempDir, ".\\temp");
    EXPECT_EQ(s.SpecifiedK, 3);
    EXPECT_EQ(s.MinK, 3);
    EXPECT_EQ(s.MaxK, 5);
    EXPECT_EQ(s.VFoldValue, 10);
    EXPECT_EQ(s.VFoldVariable, -1);
    EXPECT_FALSE(s.IsAutoKSelection || s.IsFeaSelection || s.IsFeaWeight || s.IsFeaImportance);
    EXPECT_EQ(s.CatResponses, std::vector<int>{kCls});
    EXPECT_EQ(s.Responses, std::vector<int>{kCls});
    EXPECT_EQ(s.Features, (std::vector<int>{kX1, kX2, kX3}));
    EXPECT_EQ(s.FeatureNum, 3);
    EXPECT_EQ(s.TotalVarNum, 10);
    // Identifier, focal field, targets, then features in ascending order.
    EXPECT_EQ(s.UsedVariables, (std::vector<int>{kId, kFocal, kCls, kX1, kX2, kX3}));
}

TEST(SettingsReader, EveryOptionReachesTheSettings) {
    SettingsDocument d;
    d.Roles()
        .Target("cls")
        .Target("y")
        .Predictor("x3")
        .Predictor("c")
        .Predictor("x1")
        .Param("use_caselabels", "bool", "true")
        .Param("CaseLabelVar", "string", "label")
        .Param("FocalCaseValue", "string", "1")
        .Param("RescaleMethod", "bool", "false")
        .Param("DistMetric", "string", "CityBlock")
        .Param("TempFileDir", "string", "/tmp/x/")
        .Param("ComputePredValFunc", "string", "Median")
        .Param("IsAutoKSelection", "bool", "true")
        .Param("MinK", "int", "2")
        .Param("MaxK", "int", "9")
        .Param("VFoldVar", "string", "fold")
        .Param("VFoldValue", "int", "3");
    SettingsReader reader;
    const VelStatus status = ReadDocument(d, reader);
    ASSERT_TRUE(status.IsOK()) << status.GetErrorCode() << " " << status.GetMessage();
    const KNN_800::KNNSettings& s = reader.Settings();
    EXPECT_EQ(s.CaseLabelVariable, kLabel);
    EXPECT_EQ(s.FocalCaseValueText, "1");
    EXPECT_EQ(s.RescaleMethod, 1);
    EXPECT_EQ(s.DistMetric, 1);
    EXPECT_EQ(s.FileTempDir, "/tmp/x/");
    EXPECT_EQ(s.ComputePredValFunc, 1);
    EXPECT_TRUE(s.IsAutoKSelection);
    EXPECT_EQ(s.MinK, 2);
    EXPECT_EQ(s.MaxK, 9);
    EXPECT_EQ(s.VFoldVariable, kFold);
    EXPECT_EQ(s.VFoldValue, 3);
    EXPECT_EQ(s.Responses, (std::vector<int>{kCls, kY}));
    EXPECT_EQ(s.CatPredictors, std::vector<int>{kC});
    EXPECT_EQ(s.ContPredictors, (std::vector<int>{kX3, kX1}));
    EXPECT_EQ(s.Features, (std::vector<int>{kX1, kX3, kC}));
    EXPECT_EQ(s.UsedVariables,
              (std::vector<int>{kId, kLabel, kFocal, kCls, kY, kX1, kX3, kC, kFold}));
}

struct ErrorCase {
    const char* name;
    SettingsDocument document;
    long code;
    const char* messagePart;  // the message must name the culprit
};

// Names a case in test listings instead of dumping its bytes.
void PrintTo(const ErrorCase& c, std::ostream* out) {
    *out << c.name;
}

class SettingsReaderErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(SettingsReaderErrors, ReportsTheCodeAndNamesTheCulprit) {
    SettingsReader reader;
    const VelStatus status = ReadDocument(GetParam().document, reader);
    EXPECT_TRUE(status.IsError());
    EXPECT_EQ(status.GetErrorCode(), GetParam().code);
    EXPECT_NE(status.GetMessage().find(GetParam().messagePart), std::string::npos)
        << status.GetMessage();
}

std::vector<ErrorCase> ErrorCases() {
    using namespace KNN_800::Code;
    std::vector<ErrorCase> cases;
    auto add = [&](const char* name, SettingsDocument d, long code, const char* part) {
        cases.push_back({name, std::move(d), code, part});
    };
    auto roleless = [] {
        SettingsDocument d;
        d.Target("cls").Predictor("x1");
        return d;
    };
    add("NoCaseId", SettingsDocument(roleless()).Param("FocalVar", "string", "focal"), EmptyCaseID,
        "CaseIDVar");
    add("EmptyCaseId", SettingsDocument(roleless()).Param("CaseIDVar", "string", ""), EmptyCaseID,
        "CaseIDVar");
    add("CaseIdWrongType", SettingsDocument(roleless()).Param("CaseIDVar", "int", "3"), BadCaseID,
        "CaseIDVar");
    add("CaseIdUnknown", SettingsDocument(roleless()).Param("CaseIDVar", "string", "nope"),
        UnknownCaseID, "nope");
    add("CaseIdCategorical", SettingsDocument(roleless()).Param("CaseIDVar", "string", "c"),
        CaseIDNotContinuous, "'c'");
    add("NoFocal", SettingsDocument(roleless()).Param("CaseIDVar", "string", "id"), BadFocalVar,
        "FocalVar");
    add("FocalUnknown",
        SettingsDocument(roleless())
            .Param("CaseIDVar", "string", "id")
            .Param("FocalVar", "string", "zz"),
        UnknownFocalVar, "zz");
    add("CaseLabelMissing", Basic().Param("use_caselabels", "bool", "true"), BadCaseLabel,
        "CaseLabelVar");
    add("CaseLabelContinuous",
        Basic().Param("use_caselabels", "bool", "true").Param("CaseLabelVar", "string", "x1"),
        CaseLabelNotCategorical, "x1");
    add("CaseLabelUnknown",
        Basic().Param("use_caselabels", "bool", "true").Param("CaseLabelVar", "string", "q"),
        UnknownCaseLabel, "'q'");
    add("TargetUnknown", SettingsDocument().Roles().Target("what").Predictor("x1"), UnknownTarget,
        "what");
    add("TargetTwice", SettingsDocument().Roles().Target("y").Target("y").Predictor("x1"),
        DuplicateField, "'y'");
    add("PredictorUnknown", SettingsDocument().Roles().Target("y").Predictor("x9"),
        UnknownPredictor, "x9");
    add("PredictorTwice", SettingsDocument().Roles().Target("y").Predictor("x1").Predictor("x1"),
        DuplicateField, "'x1'");
    add("PredictorIsTarget", SettingsDocument().Roles().Target("y").Predictor("y"),
        PredictorIsTarget, "'y'");
    add("NoPredictor", SettingsDocument().Roles().Target("y"), NoPredictor, "predictor");
    add("OnlyPredictorIsFocal", SettingsDocument().Roles().Target("y").Predictor("focal"),
        NoFeatureLeft, "predictor");
    add("Rescale", Basic().Param("RescaleMethod", "string", "yes"), BadRescale, "RescaleMethod");
    add("MetricCase", Basic().Param("DistMetric", "string", "cityblock"), BadDistMetric,
        "cityblock");
    add("TempDirType", Basic().Param("TempFileDir", "int", "1"), BadTempDir, "TempFileDir");
    add("PredictionFunction", Basic().Param("ComputePredValFunc", "string", "Mode"), BadPredFunc,
        "Mode");
    add("FeatureWeightType", Basic().Param("IsFeatureWeight", "int", "1"), BadFeatureWeight,
        "IsFeatureWeight");
    add("FeatureSelectionType", Basic().Param("IsFeatureSelection", "string", "x"),
        BadFeatureSelection, "IsFeatureSelection");
    add("ForcedUnknown",
        Basic()
            .Param("IsFeatureSelection", "bool", "true")
            .Array("ForcedVariables", "string", {"x1", "ghost"}),
        UnknownForcedVariable, "ghost");
    add("ForcedTwice",
        Basic()
            .Param("IsFeatureSelection", "bool", "true")
            .Array("ForcedVariables", "string", {"x1", "x1"}),
        DuplicateField, "'x1'");
    add("ErrRange",
        Basic()
            .Param("IsFeatureSelection", "bool", "true")
            .Param("IsAutoFeatureSelection", "bool", "true")
            .Param("SpecifiedErrRange", "double", "1.5"),
        BadErrRange, "SpecifiedErrRange");
    add("NegativeFeatureCount",
        Basic()
            .Param("IsFeatureSelection", "bool", "true")
            .Param("NSpecifiedFeatures", "int", "-1"),
        BadFeatureCount, "NSpecifiedFeatures");
    add("ZeroFeaturesWithoutForced",
        Basic().Param("IsFeatureSelection", "bool", "true").Param("NSpecifiedFeatures", "int", "0"),
        BadFeatureCount, "NSpecifiedFeatures");
    add("MinKEqualsMaxK", Basic().Param("MinK", "int", "4").Param("MaxK", "int", "4"), BadKRange,
        "MinK");
    add("MinKZero", Basic().Param("MinK", "int", "0"), BadKRange, "MinK");
    add("SpecifiedKZero", Basic().Param("SpecifiedK", "int", "0"), BadSpecifiedK, "SpecifiedK");
    add("AutoKWithoutFold", Basic().Param("IsAutoKSelection", "bool", "true"), BadVFoldVar,
        "VFoldVar");
    add("FoldsTooFew",
        Basic()
            .Param("IsAutoKSelection", "bool", "true")
            .Param("VFoldVar", "string", "fold")
            .Param("VFoldValue", "int", "1"),
        BadVFoldValue, "VFoldValue");
    add("FoldUnknown",
        Basic().Param("IsAutoKSelection", "bool", "true").Param("VFoldVar", "string", "f0ld"),
        UnknownVFoldVar, "f0ld");
    add("FoldContinuous",
        Basic().Param("IsAutoKSelection", "bool", "true").Param("VFoldVar", "string", "x2"),
        VFoldNotCategorical, "x2");
    add("FoldCountMismatch",
        Basic()
            .Param("IsAutoKSelection", "bool", "true")
            .Param("VFoldVar", "string", "fold")
            .Param("VFoldValue", "int", "4"),
        VFoldCountMismatch, "fold");
    add("SpecifiedFeatureUnknown", Basic().Array("SpecifiedFeature", "string", {"x1", "nix"}),
        BadSpecifiedFeature, "nix");
    add("SpecifiedFeatureWithSelection",
        Basic()
            .Param("IsFeatureSelection", "bool", "true")
            .Array("SpecifiedFeature", "string", {"x1"})
            .Array("SpecifiedFeatureWeight", "double", {"1"}),
        SpecifiedFeatureConflict, "SpecifiedFeature");
    add("SpecifiedWeightCount",
        Basic()
            .Array("SpecifiedFeature", "string", {"x1", "x2"})
            .Array("SpecifiedFeatureWeight", "double", {"1"}),
        SpecifiedFeatureConflict, "SpecifiedFeatureWeight");
    add("UndeclaredRangeOfUnusedField",
        Basic().ExtraField("<Field name=\"free\" kind=\"continuous\"/>"), NoDeclaredRange,
        "'free'");
    add("SelectionWithoutTarget",
        SettingsDocument().Roles().Predictor("x1").Param("IsFeatureSelection", "bool", "true"),
        SelectionWithoutTarget, "target");
    add("MalformedXml", SettingsDocument().Roles().Predictor("x1").Param("A", "string", "<"), 101,
        "line");
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Codes, SettingsReaderErrors, ::testing::ValuesIn(ErrorCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsReader, EmptyRangeCarriesTheFieldIndex) {
    SettingsReader reader;
    const VelStatus status = ReadDocument(
        Basic().ExtraField("<Field name=\"flat\" kind=\"continuous\" min=\"2\" max=\"2\"/>"),
        reader);
    EXPECT_EQ(status.GetErrorCode(), KNN_800::Code::EmptyRange);
    EXPECT_EQ(status.GetDiscreteDatum(0), kExtra);
}

TEST(SettingsReader, StreamAlreadyFailed) {
    std::istringstream in(Basic().Xml());
    in.setstate(std::ios::failbit);
    SettingsReader reader;
    EXPECT_EQ(reader.Read(in).GetErrorCode(), KNN_800::Code::BadSettingsStream);
}

TEST(SettingsReader, FeatureCountDefaultsAndReduction) {
    KNN_800::KNNWarning::Instance().Clear();
    {
        // Forced x1 with no count: min(3, 20) - 1 = 2 features to add.
        SettingsReader reader;
        const VelStatus status = ReadDocument(Basic()
                                                  .Param("IsFeatureSelection", "bool", "true")
                                                  .Array("ForcedVariables", "string", {"x1"}),
                                              reader);
        ASSERT_TRUE(status.IsOK()) << status.GetMessage();
        EXPECT_EQ(reader.Settings().SpecifiedFeaNum, 2);
        EXPECT_EQ(reader.Settings().SpecifiedErrRange, -1.0);
        EXPECT_EQ(reader.Settings().ForcedVariables, std::vector<int>{kX1});
    }
    {
        // Forced x1 and 8 more asked for among 3 features: reduced to 2 with a warning.
        SettingsReader reader;
        const VelStatus status = ReadDocument(Basic()
                                                  .Param("IsFeatureSelection", "bool", "true")
                                                  .Array("ForcedVariables", "string", {"x1"})
                                                  .Param("NSpecifiedFeatures", "int", "8"),
                                              reader);
        EXPECT_TRUE(status.IsWarning());
        EXPECT_EQ(status.GetErrorCode(), KNN_800::Code::FeatureCountReduced);
        EXPECT_EQ(reader.Settings().SpecifiedFeaNum, 2);
        ASSERT_EQ(KNN_800::KNNWarning::Instance().List().size(), 1u);
    }
    {
        // Forced variables that are targets are dropped but still count as named.
        SettingsReader reader;
        const VelStatus status = ReadDocument(Basic()
                                                  .Target("y")
                                                  .Param("IsFeatureSelection", "bool", "true")
                                                  .Array("ForcedVariables", "string", {"y", "x2"}),
                                              reader);
        ASSERT_TRUE(status.IsOK()) << status.GetMessage();
        EXPECT_EQ(reader.Settings().ForcedVariables, std::vector<int>{kX2});
        EXPECT_EQ(reader.Settings().SpecifiedFeaNum, 1);
    }
}

TEST(SettingsReader, AutomaticFeatureSelectionAndJointSelection) {
    SettingsReader reader;
    // Joint K and feature selection needs no fold field.
    const VelStatus status = ReadDocument(Basic()
                                              .Param("IsFeatureSelection", "bool", "true")
                                              .Param("IsAutoFeatureSelection", "bool", "true")
                                              .Param("SpecifiedErrRange", "double", "0.05")
                                              .Param("IsAutoKSelection", "bool", "true"),
                                          reader);
    ASSERT_TRUE(status.IsOK()) << status.GetMessage();
    EXPECT_EQ(reader.Settings().SpecifiedFeaNum, -1);
    EXPECT_DOUBLE_EQ(reader.Settings().SpecifiedErrRange, 0.05);
    EXPECT_EQ(reader.Settings().VFoldVariable, -1);
}

TEST(SettingsReader, NeighbourOnlyAnalysisReadsOnlySpecifiedK) {
    SettingsReader reader;
    // Without a target, MinK = MaxK is not even read, and automatic K stays off.
    const VelStatus status = ReadDocument(SettingsDocument()
                                              .Roles()
                                              .Predictor("x1")
                                              .Param("MinK", "int", "4")
                                              .Param("MaxK", "int", "4")
                                              .Param("IsAutoKSelection", "bool", "true")
                                              .Param("SpecifiedK", "int", "7"),
                                          reader);
    ASSERT_TRUE(status.IsOK()) << status.GetMessage();
    EXPECT_FALSE(reader.Settings().IsAutoKSelection);
    EXPECT_EQ(reader.Settings().SpecifiedK, 7);
    EXPECT_TRUE(reader.Settings().Responses.empty());
}

TEST(SettingsReader, FourKeysOfAnotherTypeKeepTheirDefaultsSilently) {
    // Every other key of another type stops the reading (SettingsReaderErrors); these four are
    // passed over. Automatic K selection that was on would need a fold field and fail.
    SettingsReader reader;
    const VelStatus status = ReadDocument(Basic()
                                              .Param("use_caselabels", "int", "1")
                                              .Param("CaseLabelVar", "string", "label")
                                              .Param("IsAutoKSelection", "string", "true")
                                              .Param("fieldFormat", "int", "3")
                                              .Param("FocalCaseValue", "int", "1"),
                                          reader);
    ASSERT_TRUE(status.IsOK()) << status.GetErrorCode() << " " << status.GetMessage();
    const KNN_800::KNNSettings& s = reader.Settings();
    EXPECT_EQ(s.CaseLabelVariable, -1);
    EXPECT_EQ(s.UsedVariables, (std::vector<int>{kId, kFocal, kCls, kX1, kX2, kX3}));
    EXPECT_FALSE(s.IsAutoKSelection);
    EXPECT_EQ(s.fieldFormat, "");
    EXPECT_EQ(s.FocalCaseValueText, "");
}

TEST(SettingsReader, RoleFieldsAreNeverFeatures) {
    SettingsReader reader;
    const VelStatus status = ReadDocument(SettingsDocument()
                                              .Roles()
                                              .Target("cls")
                                              .Predictor("x1")
                                              .Predictor("focal")
                                              .Predictor("id")
                                              .Predictor("fold")
                                              .Param("IsAutoKSelection", "bool", "true")
                                              .Param("VFoldVar", "string", "fold")
                                              .Param("VFoldValue", "int", "3"),
                                          reader);
    ASSERT_TRUE(status.IsOK()) << status.GetMessage();
    EXPECT_EQ(reader.Settings().Features, std::vector<int>{kX1});
    EXPECT_EQ(reader.Settings().FeatureNum, 1);
}

namespace {

// A string categorical field "big" with `count` categories.
std::string BigField(int count) {
    std::string xml = "<Field name=\"big\" kind=\"categorical-string\">";
    for (int k = 0; k < count; ++k) {
        xml += "<Category value=\"v" + std::to_string(k) + "\"/>";
    }
    return xml + "</Field>";
}

}  // namespace

TEST(SettingsReader, TargetsAndFeaturesHaveAtMostTheSharedNumberOfCategories) {
    const int limit = VelCommon_940::kMaxCategories;
    const std::string big = BigField(limit + 1);
    for (const SettingsDocument& refused :
         {Basic().ExtraField(big).Target("big"), Basic().ExtraField(big).Predictor("big"),
          Basic()
              .ExtraField(big)
              .Array("SpecifiedFeature", "string", {"big"})
              .Array("SpecifiedFeatureWeight", "double", {"1"})}) {
        SettingsReader reader;
        const VelStatus status = ReadDocument(refused, reader);
        EXPECT_EQ(status.GetErrorCode(), KNN_800::Code::TooManyCategories);
        EXPECT_EQ(status.GetDiscreteDatum(0), kExtra);
        EXPECT_NE(status.GetMessage().find("'big' has 1001 categories"), std::string::npos)
            << status.GetMessage();
    }
    // At the limit, or as a case label or fold field, which only tell cases apart.
    for (const SettingsDocument& accepted :
         {Basic().ExtraField(BigField(limit)).Target("big"),
          Basic()
              .ExtraField(big)
              .Param("use_caselabels", "bool", "true")
              .Param("CaseLabelVar", "string", "big"),
          Basic()
              .ExtraField(big)
              .Param("IsAutoKSelection", "bool", "true")
              .Param("VFoldVar", "string", "big")
              .Param("VFoldValue", "int", std::to_string(limit + 1))}) {
        SettingsReader reader;
        const VelStatus status = ReadDocument(accepted, reader);
        EXPECT_TRUE(status.IsOK()) << status.GetMessage();
    }
}

TEST(SettingsReader, DeclaredRangesNeedAWidthAboveZeroThatIsANumber) {
    SettingsReader wide;
    const VelStatus refused = ReadDocument(
        Basic().ExtraField(
            "<Field name=\"wide\" kind=\"continuous\" min=\"-1.7e308\" max=\"1.7e308\"/>"),
        wide);
    EXPECT_EQ(refused.GetErrorCode(), KNN_800::Code::RangeTooWide);
    EXPECT_EQ(refused.GetDiscreteDatum(0), kExtra);
    EXPECT_NE(refused.GetMessage().find("'wide'"), std::string::npos) << refused.GetMessage();

    // However narrow, a range wider than zero rescales its values onto -1 ... 1.
    SettingsReader reader;
    const VelStatus status =
        ReadDocument(Basic().Predictor("tiny").ExtraField(
                         "<Field name=\"tiny\" kind=\"continuous\" min=\"1e-20\" max=\"2e-20\"/>"),
                     reader);
    ASSERT_TRUE(status.IsOK()) << status.GetMessage();
    const KNN_800::KNNContVariable tiny(reader.Settings(), reader.Dictionary(), kExtra);
    ASSERT_TRUE(tiny.IsRescaled());
    EXPECT_EQ(tiny.Coded(1e-20), -1.0);
    EXPECT_EQ(tiny.Coded(2e-20), 1.0);
    EXPECT_NEAR(tiny.Coded(1.25e-20), -0.5, 1e-15);
}

TEST(SettingsReader, SpecifiedFeatureWeightsAreNumbersAboveZero) {
    for (const char* weight : {"0", "-0.5"}) {
        SettingsReader reader;
        const VelStatus status =
            ReadDocument(Basic()
                             .Array("SpecifiedFeature", "string", {"x1", "x2"})
                             .Array("SpecifiedFeatureWeight", "double", {"1", weight}),
                         reader);
        EXPECT_EQ(status.GetErrorCode(), KNN_800::Code::BadSpecifiedFeatureWeight) << weight;
        EXPECT_EQ(status.GetDiscreteDatum(0), kX2) << weight;
        EXPECT_NE(status.GetMessage().find("'x2'"), std::string::npos) << status.GetMessage();
    }
}

TEST(SettingsReader, FieldFormatMustBeWellFormedXmlContent) {
    SettingsReader reader;
    // The attribute value is <Field name='x1'>, which leaves its element open.
    const VelStatus status =
        ReadDocument(Basic().Param("fieldFormat", "string", "&lt;Field name='x1'&gt;"), reader);
    EXPECT_EQ(status.GetErrorCode(), KNN_800::Code::BadFieldFormat);
    EXPECT_NE(status.GetMessage().find("fieldFormat is not well-formed XML content: line 1: "),
              std::string::npos)
        << status.GetMessage();
    ASSERT_TRUE(
        ReadDocument(Basic().Param("fieldFormat", "string", "&lt;Field name='x1'/&gt; &amp;amp;"),
                     reader)
            .IsOK());
    EXPECT_EQ(reader.Settings().fieldFormat, "<Field name='x1'/> &amp;");
}
