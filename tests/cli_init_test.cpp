// Inferring a settings document from a CSV file (knn init).
#ifdef KNN_CLI_PATH

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
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

TEST(InferSettings, DeclaredRangesReadBackAsExactlyTheDataValues) {
    // Values whose shortest text has an exponent, or that need all 17 digits.
    TempDir dir;
    InitOptions options;
    options.data = dir.Write("d.csv",
                             "a,b,c,y\n"
                             "0.30000000000000004,1e-07,100000,p\n"
                             "-1.7976931348623157e308,123456789.12345679,4e+06,q\n");
    options.targets = {"y"};
    options.k = 1;
    const AnalysisSettings settings =
        ParseSettings(InferSettings(options, nullptr).document, "inferred.xml");
    const auto range = [&settings](int field) {
        const auto* variable =
            dynamic_cast<const VelXML_940::VelContVar*>(settings.dictionary->GetVarAt(field));
        return std::pair(variable->GetMin(), variable->GetMax());
    };
    EXPECT_EQ(range(0), std::pair(-1.7976931348623157e308, 0.1 + 0.2));
    EXPECT_EQ(range(1), std::pair(1e-07, 123456789.12345679));
    EXPECT_EQ(range(2), std::pair(100000.0, 4e6));
}

TEST(InferSettings, NamesAndCategoriesReadBackAsTheyAreWhateverTheirCharacters) {
    TempDir dir;
    InitOptions options;
    // Markup characters, quotes, tabs and line breaks; "--" in the path, which the first
    // comment names.
    options.data = dir.Write("d--1.csv",
                             "\"a&b<c>\",\"it's \"\"q\"\"\",\"two\nlines\",class\n"
                             "1,x&y,<p>,p\n"
                             "2,\"line\nbreak\",q\tr,q\n");
    options.targets = {"class"};
    const InferredSettings inferred = InferSettings(options, nullptr);
    EXPECT_TRUE(Contains(inferred.document, "<!-- Settings inferred by knn init from "))
        << inferred.document;
    const AnalysisSettings settings = ParseSettings(inferred.document, "s.xml");
    EXPECT_EQ(settings.FieldName(0), "a&b<c>");
    EXPECT_EQ(settings.FieldName(1), "it's \"q\"");
    EXPECT_EQ(settings.FieldName(2), "two\nlines");
    EXPECT_EQ(settings.CategoryText(1, 0), "line\nbreak");
    EXPECT_EQ(settings.CategoryText(1, 1), "x&y");
    EXPECT_EQ(settings.CategoryText(2, 0), "<p>");
    EXPECT_EQ(settings.CategoryText(2, 1), "q\tr");
    EXPECT_EQ(settings.features, (std::vector<int>{0, 1, 2}));

    // A control character cannot be written at all.
    options.data = dir.Write("c.csv", "a\x01z,class\n1,p\n2,q\n");
    try {
        InferSettings(options, nullptr);
        ADD_FAILURE() << "a name with a control character was written";
    } catch (const CliError& e) {
        EXPECT_EQ(e.Code(), kExitData);
        EXPECT_TRUE(Contains(e.what(), "control character")) << e.what();
    }
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
}

// Twenty records or more: two measurements, a group of four (five records each), a text code
// per record and a class. Record r is on line r + 1 and starts with "r,".
std::string Records(int records = 20) {
    std::string csv = "x,w,group,code,class\n";
    for (int r = 1; r <= records; ++r) {
        csv += std::to_string(r) + "," + std::to_string(r * 7 % 11) + "," +
               std::to_string(r % 4 + 1) + ",C" + std::to_string(1000 + r) + "," +
               (r % 3 ? "p\n" : "q\n");
    }
    return csv;
}

// The value of a parameter of a settings document; empty when the document does not give it.
std::string Value(const std::string& document, const std::string& key) {
    const size_t at = document.find("<Parameter key=\"" + key + "\"");
    if (at == std::string::npos) {
        return {};
    }
    const size_t value = document.find("value=\"", at) + 7;
    return document.substr(value, document.find('"', value) - value);
}

CsvError InferError(const InitOptions& options) {
    try {
        InferSettings(options, nullptr);
    } catch (const CsvError& e) {
        return e;
    }
    ADD_FAILURE() << "no error for " << ReadFile(options.data);
    return CsvError("", 0, 0, "");
}

TEST(InferSettings, ReadsNanAsMissingAndStopsAtAStrayTextInAColumnOfNumbers) {
    TempDir dir;
    InitOptions options;
    options.targets = {"class"};
    options.exclude = {"code"};
    options.data =
        dir.Write("d.csv", Replace(Replace(Records(), "\n1,", "\nnan,"), "\n20,", "\n NAN ,"));
    AnalysisSettings settings = ParseSettings(InferSettings(options, nullptr).document, "s.xml");
    const auto* x = dynamic_cast<const VelXML_940::VelContVar*>(settings.dictionary->GetVarAt(0));
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->GetMin(), 2.0);
    EXPECT_EQ(x->GetMax(), 19.0);

    options.data = dir.Write("d.csv", Replace(Records(), "\n5,", "\n\"1,234.5\","));
    CsvError error = InferError(options);
    EXPECT_EQ(error.Line(), 6);
    EXPECT_EQ(error.Column(), 1);
    EXPECT_TRUE(Contains(error.Message(),
                         "\"1,234.5\" is not a number (numbers use '.' as the "
                         "decimal separator and no thousands separator), but 19 "
                         "of the 20 values of the column \"x\" are numbers"))
        << error.Message();
    EXPECT_TRUE(Contains(error.Message(), "leave it empty (or write NA or NaN)"));
    EXPECT_TRUE(Contains(error.Message(), "--categorical"));
    options.data = dir.Write("d.csv", Replace(Records(), "\n5,", "\n1e400,"));
    EXPECT_TRUE(Contains(InferError(options).Message(), "\"1e400\" is too large for a number"));
    // A number too close to zero for a double is zero.
    options.data = dir.Write("d.csv", Replace(Records(), "\n5,", "\n1e-400,"));
    settings = ParseSettings(InferSettings(options, nullptr).document, "s.xml");
    x = dynamic_cast<const VelXML_940::VelContVar*>(settings.dictionary->GetVarAt(0));
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->GetMin(), 0.0);
    options.data = dir.Write("d.csv", Replace(Records(), "\n5,", "\n-Inf,"));
    EXPECT_TRUE(Contains(InferError(options).Message(), "\"-Inf\" is not a finite number"));
    // The first such cell of the file is named, whichever column holds it.
    options.data =
        dir.Write("d.csv", Replace(Replace(Records(), "\n5,", "\nfive,"), "\n3,10,", "\n3,ten,"));
    error = InferError(options);
    EXPECT_EQ(error.Line(), 4);
    EXPECT_EQ(error.Column(), 2);

    // Named as categorical, the column takes its texts as categories; excluded, it is gone.
    options.data = dir.Write("d.csv", Replace(Records(), "\n5,", "\nfive,"));
    options.categorical = {"x"};
    settings = ParseSettings(InferSettings(options, nullptr).document, "s.xml");
    EXPECT_EQ(settings.CategoryText(0, 19), "five");
    options.categorical.clear();
    options.exclude = {"code", "x"};
    EXPECT_NO_THROW(InferSettings(options, nullptr));
    // Fewer than 90% numbers: a categorical column, with a note.
    options.exclude = {"code"};
    options.data = dir.Write("d.csv", Replace(Replace(Records(10), "\n5,2,2,", "\n5,2,two,"),
                                              "\n6,9,3,", "\n6,9,three,"));
    const InferredSettings inferred = InferSettings(options, nullptr);
    EXPECT_TRUE(ParseSettings(inferred.document, "s.xml").IsCategorical(2));
    EXPECT_TRUE(Contains(inferred.notes.front(), "because of the text \"two\" on line 6"))
        << inferred.notes.front();
}

TEST(InferSettings, TakesTextIdentifiersAndLeavesIdentifierLikeColumnsOut) {
    TempDir dir;
    InitOptions options;
    options.targets = {"class"};
    options.data = dir.Write("d.csv", Records(12));
    // Texts that are all different are no predictor unless named; a note suggests --id.
    InferredSettings inferred = InferSettings(options, nullptr);
    EXPECT_EQ(ParseSettings(inferred.document, "s.xml").features, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(Contains(inferred.notes.front(),
                         "column \"code\" is left out of the predictors: "
                         "its 12 texts are all different"));
    EXPECT_TRUE(Contains(inferred.notes.front(), "--id code"));
    options.predictors = {"x", "code"};
    EXPECT_EQ(ParseSettings(InferSettings(options, nullptr).document, "s.xml").features,
              (std::vector<int>{0, 1}));

    // As the identifier, the texts are declared by the record numbers 1 ... 12.
    options.predictors.clear();
    options.id = "code";
    inferred = InferSettings(options, nullptr);
    const AnalysisSettings settings = ParseSettings(inferred.document, "s.xml");
    EXPECT_EQ(settings.FieldName(settings.caseId), "code");
    EXPECT_TRUE(Contains(inferred.document,
                         "<Field name=\"code\" kind=\"continuous\" min=\"1\" max=\"12\"/>"));
    EXPECT_TRUE(
        Contains(inferred.document, "<!-- Note: the identifier column \"code\" holds texts"));
    // An identifier column whose first value is a number holds numbers only.
    options.data = dir.Write("d.csv", Replace(Records(12), ",C1001,", ",17,"));
    const CsvError error = InferError(options);
    EXPECT_EQ(error.Line(), 3);
    EXPECT_EQ(error.Column(), 4);
}

TEST(InferSettings, WritesTheFeatureSelectionWeightsAndDistanceAskedFor) {
    TempDir dir;
    InitOptions options;
    options.targets = {"class"};
    options.exclude = {"code"};
    options.data = dir.Write("d.csv", Records(8));
    options.selectCount = 1;
    options.forced = {"w"};
    options.weight = true;
    options.cityBlock = true;
    options.rescale = false;
    options.median = true;
    std::string document = InferSettings(options, nullptr).document;
    const AnalysisSettings settings = ParseSettings(document, "s.xml");
    EXPECT_TRUE(settings.autoK && settings.featureSelection);
    // K is chosen with the features, each record predicted from the 7 others: no folds.
    EXPECT_EQ(settings.fold, -1);
    EXPECT_FALSE(Contains(document, "VFold") || Contains(document, "_fold"));
    EXPECT_EQ(Value(document, "MinK") + " " + Value(document, "MaxK"), "3 7");
    EXPECT_EQ(Value(document, "NSpecifiedFeatures"), "1");
    EXPECT_TRUE(Contains(document,
                         "<Array key=\"ForcedVariables\" type=\"string\">\n"
                         "      <Item value=\"w\"/>\n    </Array>"));
    EXPECT_EQ(Value(document, "IsFeatureWeight"), "true");
    EXPECT_EQ(Value(document, "DistMetric"), "CityBlock");
    EXPECT_EQ(Value(document, "RescaleMethod"), "false");
    EXPECT_EQ(Value(document, "ComputePredValFunc"), "Median");

    options.selectCount = 0;
    options.selectAuto = true;
    options.selectStop = 0.05;
    options.forced.clear();
    document = InferSettings(options, nullptr).document;
    EXPECT_EQ(Value(document, "IsAutoFeatureSelection"), "true");
    EXPECT_EQ(Value(document, "SpecifiedErrRange"), "0.05");
    EXPECT_EQ(Value(document, "NSpecifiedFeatures"), "");
    EXPECT_FALSE(Contains(document, "<Array key=\"ForcedVariables\""));
}

TEST(InferSettings, TakesTheFoldsFromAColumnAndTheRangeOfKAsked) {
    TempDir dir;
    InitOptions options;
    options.targets = {"class"};
    options.exclude = {"code"};
    options.data = dir.Write("d.csv", Records());
    options.fold = "group";
    std::string document = InferSettings(options, nullptr).document;
    AnalysisSettings settings = ParseSettings(document, "s.xml");
    EXPECT_EQ(settings.FieldName(settings.fold), "group");
    EXPECT_TRUE(settings.UsesFolds());
    EXPECT_EQ(settings.features, (std::vector<int>{0, 1}));
    EXPECT_EQ(Value(document, "VFoldValue"), "4");
    EXPECT_FALSE(Contains(document, "_fold"));
    // Each record finds neighbours among the 15 records outside its fold of five.
    options.maxK = 15;
    EXPECT_EQ(Value(InferSettings(options, nullptr).document, "MaxK"), "15");
    options.maxK = 16;
    EXPECT_THROW(InferSettings(options, nullptr), CliError);

    options.fold.clear();
    options.folds = 5;
    options.minK = 2;
    options.maxK = 4;
    document = InferSettings(options, nullptr).document;
    settings = ParseSettings(document, "s.xml");
    EXPECT_EQ(settings.CategoryCount(settings.fold), 5);
    EXPECT_EQ(Value(document, "VFoldValue") + " " + Value(document, "MinK") + " " +
                  Value(document, "MaxK"),
              "5 2 4");
}

TEST(InferSettings, RejectsOptionsThatContradictEachOtherOrTheData) {
    TempDir dir;
    InitOptions base;
    base.targets = {"class"};
    base.exclude = {"code"};
    base.data = dir.Write("d.csv", Records());
    const std::vector<std::function<void(InitOptions&)>> contradictions = {
        [](InitOptions& o) { o.k = 3, o.maxK = 5; },
        [](InitOptions& o) { o.k = 3, o.fold = "group"; },
        [](InitOptions& o) { o.fold = "group", o.folds = 3; },
        [](InitOptions& o) { o.selectCount = 1, o.folds = 3; },
        [](InitOptions& o) { o.minK = 4, o.maxK = 4; },
        [](InitOptions& o) { o.minK = 10; },  // the default MaxK is 10
        [](InitOptions& o) { o.selectCount = 1, o.selectStop = 0.1; },
        [](InitOptions& o) { o.forced = {"w"}; },
        [](InitOptions& o) { o.selectAuto = true, o.forced = {"class"}; },
        [](InitOptions& o) { o.selectCount = 4; },  // x, w and group are the predictors
        [](InitOptions& o) { o.folds = 21; },
        [](InitOptions& o) { o.fold = "class"; },
    };
    for (size_t i = 0; i < contradictions.size(); ++i) {
        InitOptions options = base;
        contradictions[i](options);
        try {
            InferSettings(options, nullptr);
            ADD_FAILURE() << "case " << i << " accepted";
        } catch (const CliError& e) {
            EXPECT_EQ(e.Code(), kExitUsage) << "case " << i << ": " << e.what();
        }
    }
    // A fold column needs two folds at least.
    base.data = dir.Write("d.csv", "x,f,y\n1,1,p\n2,1,q\n3,1,p\n");
    base.exclude.clear();
    base.targets = {"y"};
    base.fold = "f";
    EXPECT_THROW(InferSettings(base, nullptr), CliError);
}

}  // namespace

#endif  // KNN_CLI_PATH
