// What the knn program reads back and reports: the model document, the model summary, the
// scoring results, status sentences, the predictions file and output files.
#ifdef KNN_CLI_PATH

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Errors.h"
#include "Messages.h"
#include "ModelDocument.h"
#include "ModelSummary.h"
#include "Output.h"
#include "Predictions.h"
#include "Settings.h"
#include "VelSettingsParser.h"
#include "knn/base/StatusCodes.h"

#include "CliTestSupport.h"

using namespace knncli;
using namespace knncli_test;

namespace {

// ---------------------------------------------------------------------------------------------
// Reading the model document and describing the models

const char* const kAnalysisColumns =
    "<RowNames/><ColumnNames>distanceMetric;continuousTransformation;"
    "categoricalTransformationselected;continuousPrediction;K;selectedFeatures</ColumnNames>";

std::string Document(const std::string& models) {
    return std::string(
               "<?xml version=\"1.0\"?>\n<PMML version=\"4.3\" "
               "xmlns=\"http://www.dmg.org/PMML-4_3\">\n"
               "<DataDictionary numberOfFields=\"1\"><DataField name=\"a\"/></DataDictionary>\n"
               "<Extension name=\"Models\"><NearestNeighborModels>\n"
               "<SimpleTable name=\"originalData\"><RowNames/><ColumnNames>ID;a</ColumnNames>"
               "<Row>1;2</Row></SimpleTable>\n") +
           models + "</NearestNeighborModels></Extension>\n</PMML>\n";
}

TEST(ModelDocument, ReadsKFeaturesAndSelectionHistoriesOfEveryModel) {
    TempDir dir;
    const std::string path = dir.Write(
        "m.pmml",
        Document(std::string("<NearestNeighborModel modelName=\"y\" response=\"y\">"
                             "<SimpleTable name=\"AnalysisOptions\">") +
                 kAnalysisColumns +
                 "<Row>Euclidean;Normalized;one-of-c;Mean;4;1</Row></SimpleTable>\n"
                 "<MiningSchema><MiningField name=\"a\" importance=\"0.25\" usageType=\"active\">"
                 "<Extension name=\"weight\" value=\"0.5\"/></MiningField>"
                 "<MiningField name=\"b\" usageType=\"supplementary\"/>"
                 "<MiningField name=\"c;d\" importance=\"0.75\" usageType=\"active\"/>"
                 "<MiningField name=\"y\" usageType=\"predicted\"/></MiningSchema>\n"
                 "<SimpleTable name=\"FeatureSelection\"><Metadata name=\"method\" "
                 "value=\"forwardSelection\"/><RowNames/><ColumnNames>model;features;error;selected"
                 "</ColumnNames><Row>0;a+b;0.5;no</Row><Row>1;c;d;0.25;yes</Row></SimpleTable>\n"
                 "<SimpleTable name=\"neighborsDistances\"><RowNames/><ColumnNames>ID</ColumnNames>"
                 "<Row>not;read</Row></SimpleTable></NearestNeighborModel>\n"
                 "<NearestNeighborModel modelName=\"z\" response=\"z\">"
                 "<SimpleTable name=\"AnalysisOptions\">" +
                 kAnalysisColumns +
                 "<Row>Euclidean;Normalized;one-of-c;Mean;3;1</Row></SimpleTable>"
                 "<SimpleTable name=\"KSelection\"><RowNames/><ColumnNames>K;error</ColumnNames>"
                 "<Row>3;0.1</Row><Row>4;nan</Row></SimpleTable></NearestNeighborModel>\n"
                 "<NearestNeighborModel modelName=\"w\" response=\"w\">"
                 "<SimpleTable name=\"FeatureKSelection\"><RowNames/><ColumnNames>model;features;"
                 "K;error;selected</ColumnNames><Row>1;a;3;0.2;no</Row><Row>1;b;4;0.1;yes</Row>"
                 "</SimpleTable></NearestNeighborModel>\n"));
    const std::vector<DocumentModel> models = ReadModelDocument(path, nullptr);
    ASSERT_EQ(models.size(), 3u);

    const DocumentModel& y = models[0];
    EXPECT_EQ(y.response, "y");
    EXPECT_EQ(y.k, 4);
    EXPECT_EQ(y.selectedFeatures, 1);
    ASSERT_EQ(y.features.size(), 2u);
    EXPECT_EQ(y.features[0].name, "a");
    EXPECT_EQ(y.features[0].importance, 0.25);
    EXPECT_EQ(y.features[0].weight, 0.5);
    EXPECT_EQ(y.features[1].name, "c;d");
    EXPECT_FALSE(y.features[1].weight);
    ASSERT_EQ(y.steps.size(), 2u);
    EXPECT_EQ(y.steps[0].step, 0);
    EXPECT_EQ(y.steps[0].features, "a+b");
    EXPECT_EQ(y.steps[1].features, "c;d");  // a ';' in a name does not shift the cells
    EXPECT_EQ(y.steps[1].error, 0.25);
    EXPECT_FALSE(y.jointSelection);

    const DocumentModel& z = models[1];
    EXPECT_EQ(z.k, 3);
    ASSERT_EQ(z.kErrors.size(), 2u);
    EXPECT_EQ(z.kErrors[0].k, 3);
    EXPECT_EQ(z.kErrors[0].error, 0.1);
    EXPECT_TRUE(std::isnan(z.kErrors[1].error));

    const DocumentModel& w = models[2];
    EXPECT_FALSE(w.k);
    EXPECT_TRUE(w.jointSelection);
    ASSERT_EQ(w.steps.size(), 2u);
    EXPECT_EQ(w.steps[1].k, 4);
    EXPECT_EQ(w.steps[1].features, "b");
}

TEST(ModelDocument, RejectsDocumentsItCannotReadWithTheReason) {
    TempDir dir;
    const auto failure = [&dir](const std::string& text) -> std::string {
        try {
            ReadModelDocument(dir.Write("m.pmml", text), nullptr);
        } catch (const ModelDocumentError& e) {
            return e.what();
        }
        return "no error";
    };
    const std::string whole = Document(
        "<NearestNeighborModel response=\"y\"><SimpleTable name=\"KSelection\"><RowNames/>"
        "<ColumnNames>K;error</ColumnNames><Row>three;0.1</Row></SimpleTable>"
        "</NearestNeighborModel>\n");
    EXPECT_TRUE(Contains(failure(whole), "the row \"three;0.1\" of the table KSelection"));
    EXPECT_TRUE(Contains(failure(whole.substr(0, whole.size() / 2)), "line "));
    EXPECT_EQ(failure(Document("")), "the document holds no model");
    EXPECT_THROW(ReadModelDocument(dir / "absent.pmml", nullptr), ModelDocumentError);
}

TEST(ModelSummary, ShowsHowKAndTheFeaturesWereChosen) {
    const AnalysisSettings settings = ParseSettings(kSettings, "s.xml");
    DocumentModel model;
    model.response = "class";
    model.k = 14;
    for (int k = 3; k <= 14; ++k) {
        model.kErrors.push_back({k, 0.5 - 0.01 * k});
    }
    model.features = {{"x1", 0.4, 0.4}, {"x2", 0.6, 0.6}};
    std::ostringstream out;
    PrintModels(out, settings, {model}, "");
    EXPECT_EQ(out.str(),
              "Target \"class\" (categorical, 2 categories): K = 14\n"
              "  K chosen by cross-validation; misclassified cases per K:\n"
              "    error 36.00% at K = 14; from 36.00% to 47.00% over K = 3 ... 14\n"
              "    K is the largest tried; a larger MaxK may give a lower error\n"
              "  features in use, by importance (also their weight):\n"
              "    x2  0.6000\n"
              "    x1  0.4000\n");

    // Joint selection: the errors of every K, the steps of the chosen one only.
    model.kErrors.clear();
    model.k = 4;
    model.jointSelection = true;
    model.steps = {
        {0, "x1", 3, 0.5}, {1, "x2", 3, 0.25}, {0, "x1", 4, 0.5}, {1, "colour", 4, 0.125}};
    model.features = {{"x1", 0.5, std::nullopt}, {"colour", 0.5, 0.25}};
    out.str("");
    PrintModels(out, settings, {model}, "");
    EXPECT_TRUE(Contains(out.str(), "    K           3       4\n    error  25.00%  12.50%\n"))
        << out.str();
    EXPECT_TRUE(Contains(out.str(),
                         "  features added at K = 4, with the misclassified cases "
                         "after each step:\n"
                         "    forced  x1      50.00%\n"
                         "    1.      colour  12.50%\n"
                         "  features in use, by importance, with their weight:\n"
                         "    x1      0.5000\n"
                         "    colour  0.5000  0.2500\n"))
        << out.str();

    out.str("");
    PrintModels(out, settings, {}, "the reason");
    EXPECT_EQ(out.str(),
              "Target \"class\" (categorical, 2 categories)\n"
              "K and features could not be read: the reason\n");
}

// ---------------------------------------------------------------------------------------------
// Scoring results and messages

TEST(ScoringResult, DecodesEveryLayout) {
    TargetResult result;
    // Categorical, 2 categories, 2 neighbours: ids, distances, probabilities, predictions, labels.
    ASSERT_TRUE(DecodeResult({7, 9, 0.5, 0.75, 0.6, 0.4, 1, 0, -1, -1}, 2, result));
    EXPECT_EQ(result.ids, (std::vector<double>{7, 9}));
    EXPECT_EQ(result.probabilities, (std::vector<double>{0.6, 0.4}));
    EXPECT_EQ(result.predictions, (std::vector<double>{1, 0}));
    ASSERT_TRUE(DecodeResult({7, 9, 0.5, 0.75, 10, 12, -1, -1}, 0, result));
    EXPECT_EQ(result.predictions, (std::vector<double>{10, 12}));
    ASSERT_TRUE(DecodeResult({7, 0.5, -1}, -1, result));
    EXPECT_TRUE(result.predictions.empty());
    EXPECT_FALSE(DecodeResult({7, 0.5, 1, 2, 3}, 2, result));
}

TEST(ScoringResult, OrdersCategoricalTargetsFirst) {
    const AnalysisSettings settings =
        ParseSettings(Replace(kSettings, "<Target name=\"class\"/>",
                              "<Target name=\"x1\"/><Target name=\"class\"/>"),
                      "s.xml");
    EXPECT_EQ(ResultOrder(settings), (std::vector<int>{4, 0}));
}

TEST(StatusSentences, NameTheFieldAndKeepTheComponentsExplanation) {
    const AnalysisSettings settings = ParseSettings(kSettings, "s.xml");
    VelCommon_940::VelStatus constant(KNN_800::Code::ConstantFeature, false);
    constant.SetDiscreteDatum(0, 1);
    EXPECT_EQ(DescribeStatus(constant, &settings).find("the feature \"x2\" has the same value"),
              0u);
    VelCommon_940::VelStatus unknown(KNN_800::Code::UnknownPredictor, false);
    unknown.SetMessage("the predictor 'z' is not in the dictionary");
    const std::string sentence = DescribeStatus(unknown, &settings);
    EXPECT_NE(sentence.find("not in the dictionary: the predictor 'z'"), std::string::npos);
    EXPECT_NE(sentence.find("(status 200022)"), std::string::npos);
    EXPECT_NE(DescribeStatus(VelCommon_940::VelStatus(424242, false), nullptr).find("424242"),
              std::string::npos);
}

TEST(StatusSentences, ExistForEveryCodeOfTheComponentAndOfTheSettingsParser) {
    const auto hasSentence = [](long code) {
        const std::string sentence = DescribeStatus(VelCommon_940::VelStatus(code, false), nullptr);
        return !Contains(sentence, "the component reported");
    };
    std::set<long> values;
    for (const KNN_800::StatusCode& code : KNN_800::kStatusCodes) {
        EXPECT_TRUE(hasSentence(code.value)) << code.name << " (" << code.value << ")";
        EXPECT_TRUE(values.insert(code.value).second) << code.name << " repeats " << code.value;
    }
    for (const long code : {VelXML_940::kParserNoDocument, VelXML_940::kParserMalformed,
                            VelXML_940::kParserStructure, VelXML_940::kParserBadValue,
                            VelXML_940::kParserWrongType, VelXML_940::kParserDictionary}) {
        EXPECT_TRUE(hasSentence(code)) << code;
    }
}

TEST(PredictionFile, HoldsRecordsBackUntilTheNeighbourColumnsAreKnown) {
    // Two targets and case labels: columns per target, named after it.
    const AnalysisSettings settings =
        ParseSettings(Replace(Replace(kSettings, "<Target name=\"class\"/>",
                                      "<Target name=\"x1\"/><Target name=\"class\"/>"),
                              "<Parameter key=\"SpecifiedK\"",
                              "<Parameter key=\"use_caselabels\" type=\"bool\" value=\"true\"/>"
                              "<Parameter key=\"CaseLabelVar\" type=\"string\" value=\"colour\"/>"
                              "<Parameter key=\"SpecifiedK\""),
                      "s.xml");
    std::ostringstream out;
    PredictionWriter writer(out, settings, "_row", 3);
    writer.Add({"1", {}});  // not scored: waits for the header
    TargetResult cls;
    ASSERT_TRUE(DecodeResult({4, 0.123456, 0.25, 0.75, 1, 1}, 2, cls));
    TargetResult x1;
    ASSERT_TRUE(DecodeResult({4, 0.123456, 2.5, 0}, 0, x1));
    writer.Add({"2", {cls, x1}});
    writer.Finish();
    EXPECT_EQ(out.str(),
              "_row,class_predicted,class_prob_a,class_prob_b,class_neighbor_1,"
              "class_distance_1,class_label_1,x1_predicted,x1_neighbor_1,x1_distance_1,"
              "x1_label_1\n"
              "1,,,,,,,,,,\n"
              "2,b,0.25,0.75,4,0.123,red,2.5,4,0.123,blue\n");
}

TEST(OutputFile, AppearsOnlyWhenCommitted) {
    TempDir dir;
    {
        OutputFile file(dir / "out.txt");
        file.Stream() << "half";
        EXPECT_EQ(dir.Files().size(), 1u);  // the temporary file only
    }
    EXPECT_TRUE(dir.Files().empty());
    {
        OutputFile file(dir / "out.txt");
        file.Stream() << "whole";
        file.Commit();
    }
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"out.txt"});
    EXPECT_EQ(ReadFile(dir / "out.txt"), "whole");
    try {
        OutputFile file(dir / "no/such/dir/out.txt");
        FAIL() << "created a file in a missing directory";
    } catch (const CliError& e) {
        EXPECT_EQ(e.Code(), kExitOutput);
    }
}

}  // namespace

#endif  // KNN_CLI_PATH
