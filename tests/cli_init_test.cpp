// Inferring a settings document from a CSV file (knn init).
#ifdef KNN_CLI_PATH

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Csv.h"
#include "Errors.h"
#include "Init.h"
#include "Settings.h"

#include "CliTestSupport.h"

using namespace knncli;
using namespace knncli_test;

namespace {

// ---------------------------------------------------------------------------------------------
// Inferring settings

TEST(InferSettings, BuildsADictionaryThatReadsBackWithTheRightRoles) {
    TempDir dir;
    InitOptions options;
    options.data = dir.Write("d.csv",
                             "size,kind,level,flag,note,label\n"
                             "3.5,beta,2,1,x,n1\n"
                             "1,alpha,1,1,y,n2\n"
                             "NA,\"gam,ma\",3,1,z,n3\n");
    options.targets = {"label"};
    options.categorical = {"level"};
    options.exclude = {"note"};
    options.tempDir = "/tmp/";
    const InferredSettings inferred = InferSettings(options, nullptr);

    const AnalysisSettings settings = ParseSettings(inferred.document, "inferred.xml");
    const VelXML_940::VelVarList& dictionary = *settings.dictionary;
    // "flag" is constant and "note" excluded; the identifier, focal and fold fields are added.
    ASSERT_EQ(dictionary.Size(), 7);
    const auto* size = dynamic_cast<const VelXML_940::VelContVar*>(dictionary.GetVarAt(0));
    ASSERT_NE(size, nullptr);
    EXPECT_EQ(size->GetMin(), 1.0);
    EXPECT_EQ(size->GetMax(), 3.5);
    EXPECT_EQ(settings.CategoryText(1, 0), "alpha");
    EXPECT_EQ(settings.CategoryText(1, 2), "gam,ma");
    EXPECT_EQ(dictionary.GetVarAt(2)->GetKind(), VelXML_940::kNumericCategorical);
    EXPECT_EQ(settings.FieldName(settings.caseId), "_row");
    EXPECT_EQ(settings.FieldName(settings.focal), "_focal");
    EXPECT_EQ(settings.targets, std::vector<int>{3});
    EXPECT_EQ(settings.features, (std::vector<int>{0, 1, 2}));
    EXPECT_NE(inferred.document.find("value=\"/tmp/\""), std::string::npos);
    EXPECT_EQ(settings.FieldName(settings.fold), "_fold");
    EXPECT_TRUE(settings.UsesFolds());
    ASSERT_EQ(inferred.notes.size(), 4u);
    EXPECT_NE(inferred.notes[0].find("\"flag\""), std::string::npos);
}

TEST(InferSettings, FitsFoldsAndTheRangeOfKToTheNumberOfRecords) {
    TempDir dir;
    const auto parameters = [&dir](int records, int k) {
        std::string csv = "x,y\n";
        for (int i = 0; i < records; ++i) {
            csv += std::to_string(i) + (i % 2 ? ",p\n" : ",q\n");
        }
        InitOptions options;
        options.data = dir.Write("d.csv", csv);
        options.targets = {"y"};
        options.k = k;
        const std::string document = InferSettings(options, nullptr).document;
        return document.substr(document.find("<Parameters>"));
    };
    const auto has = [](const std::string& text, const char* key, const char* value) {
        return Contains(text, "key=\"" + std::string(key) + "\" type=\"" +
                                  (std::string(key) == "IsAutoKSelection" ? "bool" : "int") +
                                  "\" value=\"" + value + "\"");
    };
    // Ten folds, and MaxK 10 as long as the records outside the largest fold allow it.
    std::string text = parameters(12, 0);
    EXPECT_TRUE(has(text, "VFoldValue", "10") && has(text, "MinK", "3") && has(text, "MaxK", "10"))
        << text;
    // Fewer records than folds: one record per fold.
    text = parameters(4, 0);
    EXPECT_TRUE(has(text, "VFoldValue", "4") && has(text, "MinK", "2") && has(text, "MaxK", "3"))
        << text;
    // Two records cannot be cross-validated with MinK below MaxK: K is fixed.
    text = parameters(2, 0);
    EXPECT_TRUE(has(text, "IsAutoKSelection", "false") && has(text, "SpecifiedK", "1")) << text;
    text = parameters(12, 7);
    EXPECT_TRUE(has(text, "IsAutoKSelection", "false") && has(text, "SpecifiedK", "7")) << text;
    EXPECT_FALSE(Contains(text, "VFoldVar"));
}

TEST(InferSettings, RejectsOptionsThatDoNotFitTheData) {
    TempDir dir;
    InitOptions options;
    options.data = dir.Write("d.csv", "a,b,y\n1,2,p\n2,3,p\n");
    options.targets = {"y"};
    EXPECT_THROW(InferSettings(options, nullptr), CliError);  // constant target
    options.targets = {"z"};
    EXPECT_THROW(InferSettings(options, nullptr), CliError);  // no such column
    options.targets = {"a"};
    options.id = "y";
    EXPECT_THROW(InferSettings(options, nullptr), CliError);  // identifier not numeric
}

}  // namespace

#endif  // KNN_CLI_PATH
