// The tables of the model document on builds small enough to check by hand: original data,
// neighbours and distances, probabilities, analysis options, error summaries, confusion
// matrices and selection histories, for joint scoring, one pass per model and no target.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>

#include "PmmlTestSupport.h"
#include "TestSources.h"
#include "VelMV.h"
#include "knn/predict/KNNPredictionSummary.h"
#include "knn/selection/KNNAutoKSelection.h"
#include "knn/selection/KNNBothKAndFeaSelection.h"
#include "knn/selection/KNNModelSelection.h"
#include "knn/tables/KNNTableFormat.h"

using namespace knn_test;
using KNN_800::FormatDouble;
using KNN_800::test::VectorRecordSource;

namespace {

const double M = VelCommon_940::VelMV::Missing();

// Extra fields: w, the one predictor (range 0 ... 10, -1 declared missing); s, a string field
// whose texts need escaping; u, an unused continuous field.
const char* const kExtraFields =
    "<Field name=\"w\" kind=\"continuous\" min=\"0\" max=\"10\"><Missing value=\"-1\"/></Field>"
    "<Field name=\"s\" kind=\"categorical-string\"><Category value=\"a;b\"/>"
    "<Category value=\"c\\d\"/><Category value=\"plain\"/></Field>"
    "<Field name=\"u\" kind=\"continuous\" min=\"0\" max=\"1\"/>";
enum { kW = kExtra, kS, kU };

// Six cases along w = 0, 1, 3, 7, 8, 10 (rescaled: steps of 0.2 per unit), so that every case
// has two distinct nearest neighbours: 1 → 2, 3; 2 → 1, 3; 3 → 2, 1; 4 → 5, 6; 5 → 4, 6;
// 6 → 5, 4. cls is "no" for the first two cases only; y grows with w.
VectorRecordSource HandCases(double thirdId = 13) {
    const double id[] = {11, 12, thirdId, 14, 15, 16};
    const double w[] = {0, 1, 3, 7, 8, 10};
    const double y[] = {10, 20, 30, 70, 80, 100};
    const double s[] = {0, 1, 2, -1, 0, 0};
    const double u[] = {0.5, M, 0.25, 0, 0, 0};
    VectorRecordSource source;
    for (int i = 0; i < 6; ++i) {
        // id, x1, x2, x3, c, y, cls, focal, fold, label, w, s, u
        source.Add({id[i], 0, 0, 0.5, 0, y[i], i < 2 ? 0.0 : 1.0, 1, 0, 0, w[i], s[i], u[i]});
    }
    return source;
}

SettingsDocument HandSettings(const ScratchDir& dir) {
    SettingsDocument d;
    d.ExtraField(kExtraFields)
        .Roles()
        .Target("cls")
        .Target("y")
        .Predictor("w")
        .Param("SpecifiedK", "int", "2")
        .Param("TempFileDir", "string", dir.Prefix());
    return d;
}

int Sum(const std::vector<std::vector<int>>& matrix) {
    int sum = 0;
    for (const auto& row : matrix)
        sum = std::accumulate(row.begin(), row.end(), sum);
    return sum;
}

}  // namespace

TEST(PmmlTables, CaseTablesAndQualityOfAJointScoringPass) {
    ScratchDir dir;
    ExportedModel e;
    VectorRecordSource source = HandCases();
    ASSERT_TRUE(e.Build(HandSettings(dir), source));
    ASSERT_TRUE(e.Export().IsOK()) << e.status.GetMessage();

    // Field values in the fields' own terms: w mapped back from its rescaled form (0 is not
    // the declared missing -1), unused fields as stored, ';' and '\' escaped, missing values.
    const XmlNode& original = *e.Models().Table("originalData");
    EXPECT_EQ(original.Columns(), "ID;id;x1;x2;x3;c;y;cls;focal;fold;label;w;s;u");
    EXPECT_EQ(
        original.Rows(),
        (std::vector<std::string>{
            "1;11;0;0;0.5;a;10;no;1;1;p;0;a\\;b;0.5", "2;12;0;0;0.5;a;20;no;1;1;p;1;c\\\\d;-inf",
            "3;13;0;0;0.5;a;30;yes;1;1;p;3;plain;0.25", "4;14;0;0;0.5;a;70;yes;1;1;p;7;-1;0",
            "5;15;0;0;0.5;a;80;yes;1;1;p;8;a\\;b;0", "6;16;0;0;0.5;a;100;yes;1;1;p;10;a\\;b;0"}));

    // Categorical target: predicted categories for k = 1, 2 (a 1:1 vote goes to "yes", the
    // more frequent category), probabilities (votes + 1) / (2 + 2).
    const XmlNode& cls = e.Model(0);
    EXPECT_EQ(cls.Attr("modelName"), "cls");
    const XmlNode& clsNeighbours = *cls.Table("neighborsDistances");
    EXPECT_EQ(clsNeighbours.Columns(),
              "ID;id;neighbor1;neighbor2;distance1;distance2;prediction1;prediction2");
    EXPECT_EQ(clsNeighbours.Rows(),
              (std::vector<std::string>{"1;11;12;13;0.2;0.6;0;1", "2;12;11;13;0.2;0.4;0;1",
                                        "3;13;12;11;0.4;0.6;0;0", "4;14;15;16;0.2;0.6;1;1",
                                        "5;15;14;16;0.2;0.4;1;1", "6;16;15;14;0.4;0.6;1;1"}));
    const XmlNode& probabilities = *cls.Table("predictionProbability");
    EXPECT_EQ(probabilities.Columns(), "ID;probability-no;probability-yes");
    EXPECT_EQ(probabilities.Rows(),
              (std::vector<std::string>{"1;0.5;0.5", "2;0.5;0.5", "3;0.75;0.25", "4;0.25;0.75",
                                        "5;0.25;0.75", "6;0.25;0.75"}));
    EXPECT_EQ(cls.Table("AnalysisOptions")->Columns(),
              "distanceMetric;continuousTransformation;categoricalTransformationselected;"
              "continuousPrediction;K;selectedFeatures");
    EXPECT_EQ(cls.Table("AnalysisOptions")->Rows(),
              std::vector<std::string>{"Euclidean;Normalized;one-of-c;Mean;2;1"});
    // Cases 1, 2 and 3 are misclassified.
    const XmlNode& clsQuality = *cls.Table("modelQuality");
    EXPECT_EQ(clsQuality.Table("errorSummary")->Columns(),
              "response;percentIncorrectlyClassifiedCases");
    EXPECT_EQ(clsQuality.Table("errorSummary")->Rows(), std::vector<std::string>{"cls;0.5"});
    EXPECT_EQ(clsQuality.Table("confusionMatrix")->Columns(), "no;yes");
    EXPECT_EQ(clsQuality.Table("confusionMatrix")->Rows(),
              (std::vector<std::string>{"0;2", "1;3"}));

    // Continuous target: means of the first k neighbours; squared errors 225, 0, 225, 400,
    // 25 and 625. No probabilities, no confusion matrix.
    const XmlNode& y = e.Model(1);
    EXPECT_EQ(y.Attr("response"), "y");
    EXPECT_EQ(y.Table("neighborsDistances")->Rows()[0], "1;11;12;13;0.2;0.6;20;25");
    EXPECT_EQ(y.Table("neighborsDistances")->Rows()[5], "6;16;15;14;0.4;0.6;80;75");
    EXPECT_EQ(y.Table("predictionProbability"), nullptr);
    const XmlNode& yQuality = *y.Table("modelQuality");
    EXPECT_EQ(yQuality.ChildNames(), std::vector<std::string>{"SimpleTable"});
    EXPECT_EQ(yQuality.Table("errorSummary")->Columns(), "response;sumOfSquaredError");
    EXPECT_EQ(yQuality.Table("errorSummary")->Rows(), std::vector<std::string>{"y;1500"});
    EXPECT_EQ(y.Child("MiningSchema")->children.back().Attr("name"), "y");

    // Models with different K share one search with the larger K; each writes and is judged
    // by its own K nearest. y with K = 1 predicts its nearest neighbour's value.
    e.fixture.Model(0).SetK(3);
    e.fixture.Model(1).SetK(1);
    ASSERT_TRUE(e.Export().IsOK());
    EXPECT_EQ(e.Model(0).Table("neighborsDistances")->Rows()[0], "1;11;12;13;14;0.2;0.6;1.4;0;1;1");
    EXPECT_EQ(e.Model(0).Table("predictionProbability")->Rows()[0], "1;0.4;0.6");
    EXPECT_EQ(e.Model(1).Table("neighborsDistances")->Columns(),
              "ID;id;neighbor1;distance1;prediction1");
    EXPECT_EQ(e.Model(1).Table("neighborsDistances")->Rows(),
              (std::vector<std::string>{"1;11;12;0.2;20", "2;12;11;0.2;10", "3;13;12;0.4;20",
                                        "4;14;15;0.2;80", "5;15;14;0.2;70", "6;16;15;0.4;80"}));
    EXPECT_EQ(e.Model(1).Table("modelQuality")->Table("errorSummary")->Rows(),
              std::vector<std::string>{"y;900"});
    EXPECT_TRUE(dir.Files().empty());
}

TEST(PmmlTables, NeighbourOnlyModel) {
    ScratchDir dir;
    ExportedModel e;
    SettingsDocument d;
    d.ExtraField(kExtraFields)
        .Roles()
        .Predictor("w")
        .Param("SpecifiedK", "int", "2")
        .Param("TempFileDir", "string", dir.Prefix());
    VectorRecordSource source = HandCases(13.9);
    ASSERT_TRUE(e.Build(d, source));
    ASSERT_TRUE(e.Export().IsOK());

    ASSERT_EQ(e.Models().All("NearestNeighborModel").size(), 1u);
    const XmlNode& model = e.Model(0);
    EXPECT_EQ(model.Attr("modelName") + "|" + model.Attr("response"), "|");
    EXPECT_EQ(model.ChildNames(),
              (std::vector<std::string>{"SimpleTable", "MiningSchema", "SimpleTable"}));
    EXPECT_EQ(model.Child("MiningSchema")->children.size(), 1u);  // w; nothing predicted
    EXPECT_EQ(model.Table("AnalysisOptions")->Rows(),
              std::vector<std::string>{"Euclidean;Normalized;one-of-c;Mean;2;1"});
    const XmlNode& neighbours = *model.Table("neighborsDistances");
    EXPECT_EQ(neighbours.Columns(), "ID;id;neighbor1;neighbor2;distance1;distance2");
    // Identifiers as whole numbers; the original data keep the stored value.
    EXPECT_EQ(neighbours.Rows()[0], "1;11;12;13;0.2;0.6");
    EXPECT_EQ(neighbours.Rows()[2].rfind("3;13;", 0), 0u);
    EXPECT_EQ(e.Models().Table("originalData")->Rows()[2].rfind("3;13.9;", 0), 0u);
    const XmlNode& parameters = *e.root.Child("MiningBuildTask")->children[0].Child("Parameters");
    EXPECT_EQ(parameters.Child("Parameter", "target"), nullptr);
    EXPECT_EQ(parameters.Child("Parameter", "ForcedVariables"), nullptr);
}

namespace {

// 45 cases: cls follows x1, c follows x2 (three bands), each with some noise; folds 0, 1, 2.
VectorRecordSource TwoSignalCases() {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    VectorRecordSource source;
    for (int i = 0; i < 45; ++i) {
        const double x1 = 10.0 * unit(random);
        const double x2 = -5.0 + 10.0 * unit(random);
        const double cls = x1 + 3.0 * unit(random) > 6.5 ? 1 : 0;
        const double c = x2 + 2.0 * unit(random) < -1.0 ? 0 : (x2 < 2.5 ? 1 : 2);
        source.Add({double(i + 1), x1, x2, unit(random), c, 0, cls, 1, double(i % 3), 0});
    }
    return source;
}

// The row number of the nearest other case of `row` along one (rescaled) feature column.
int NearestAlong(const std::vector<double*>& rows, size_t row, int column) {
    size_t best = row == 0 ? 1 : 0;
    for (size_t other = 0; other < rows.size(); ++other) {
        if (other != row && std::fabs(rows[other][column] - rows[row][column]) <
                                std::fabs(rows[best][column] - rows[row][column])) {
            best = other;
        }
    }
    return static_cast<int>(best);
}

}  // namespace

TEST(PmmlTables, OnePassPerModelWhenModelsHaveTheirOwnFeatures) {
    ScratchDir dir;
    ExportedModel e;
    SettingsDocument d;
    d.Roles()
        .Target("cls")
        .Target("c")
        .Predictor("x1")
        .Predictor("x2")
        .Param("IsFeatureSelection", "bool", "true")
        .Param("NSpecifiedFeatures", "int", "1")
        .Param("IsAutoKSelection", "bool", "true")
        .Param("MinK", "int", "2")
        .Param("MaxK", "int", "4")
        .Param("TempFileDir", "string", dir.Prefix());
    VectorRecordSource source = TwoSignalCases();
    ASSERT_TRUE(e.Build(d, source));
    // Each target picked the feature that carries its signal.
    ASSERT_EQ(e.fixture.Model(0).Features(), std::vector<int>{kX1});
    ASSERT_EQ(e.fixture.Model(1).Features(), std::vector<int>{kX2});
    ASSERT_TRUE(e.Export().IsOK());

    const std::vector<double*>& rows = e.fixture.preparation->Rows();
    const KNN_800::KNNBothKAndFeaSelection& joint =
        *e.fixture.model->Selection()->GetKAndFeatureSelection();
    for (size_t m = 0; m < 2; ++m) {
        SCOPED_TRACE(m);
        const KNN_800::KNNSingleResponseModel& model = e.fixture.Model(m);
        const XmlNode& element = e.Model(m);
        const int K = model.GetK();
        EXPECT_EQ(element.Attr("modelName"), m == 0 ? "cls" : "c");

        // Rows come from the model's own tree and K: the first neighbour is the nearest case
        // along the model's one feature.
        const std::vector<std::string> neighbourRows = element.Table("neighborsDistances")->Rows();
        ASSERT_EQ(neighbourRows.size(), rows.size());
        for (size_t r = 0; r < rows.size(); ++r) {
            const int nearest = NearestAlong(rows, r, model.Features()[0]) + 1;
            EXPECT_EQ(neighbourRows[r].rfind(std::to_string(r + 1) + ";" + std::to_string(r + 1) +
                                                 ";" + std::to_string(nearest) + ";",
                                             0),
                      0u)
                << neighbourRows[r];
            EXPECT_EQ(std::count(neighbourRows[r].begin(), neighbourRows[r].end(), ';'), 1 + 3 * K);
        }

        // Quality from the model's own pass: a full confusion matrix whose diagonal agrees
        // with the error summary.
        std::vector<std::vector<int>> matrix;
        model.Summary()->GetConfusionMatrix(matrix);
        EXPECT_EQ(Sum(matrix), 45);
        int correct = 0;
        for (size_t k = 0; k < matrix.size(); ++k)
            correct += matrix[k][k];
        const XmlNode& quality = *element.Table("modelQuality");
        EXPECT_EQ(quality.Table("errorSummary")->Rows()[0],
                  element.Attr("response") + ";" + FormatDouble(1.0 - correct / 45.0));
        const std::vector<std::string> counts = quality.Table("confusionMatrix")->Rows();
        ASSERT_EQ(counts.size(), matrix.size());
        int written = 0;
        for (const std::string& row : counts) {
            std::istringstream cells(row);
            for (std::string cell; std::getline(cells, cell, ';');)
                written += std::stoi(cell);
        }
        EXPECT_EQ(written, 45);

        // One block per K of the range; "yes" only in the chosen K's block.
        const XmlNode& history = *element.Table("FeatureKSelection");
        EXPECT_EQ(history.Columns(), "model;features;K;error;selected");
        std::vector<std::string> expected;
        for (int j = 0; j < 3; ++j) {
            const size_t entry = 3 * m + static_cast<size_t>(j);
            const int feature = joint.GetFeatureLists()[entry].back();
            expected.push_back("1;" + std::string(feature == kX1 ? "x1" : "x2") + ";" +
                               std::to_string(2 + j) + ";" +
                               FormatDouble(joint.GetErrorHistories()[entry].back()) +
                               (2 + j == K ? ";yes" : ";no"));
        }
        EXPECT_EQ(history.Rows(), expected);
    }
    EXPECT_EQ(e.Model(0).Table("confusionMatrix"), nullptr);  // it lives in modelQuality
}

TEST(PmmlTables, KSelectionHistory) {
    ScratchDir dir;
    ExportedModel e;
    SettingsDocument d;
    d.Roles()
        .Target("cls")
        .Predictor("x1")
        .Param("IsAutoKSelection", "bool", "true")
        .Param("MinK", "int", "3")
        .Param("MaxK", "int", "5")
        .Param("VFoldVar", "string", "fold")
        .Param("VFoldValue", "int", "3")
        .Param("TempFileDir", "string", dir.Prefix());
    VectorRecordSource source = TwoSignalCases();
    ASSERT_TRUE(e.Build(d, source));
    ASSERT_TRUE(e.Export().IsOK());

    const std::vector<double>& errors =
        e.fixture.model->Selection()->GetKSelection()->GetErrors()[0];
    const XmlNode& table = *e.Model(0).Table("KSelection");
    EXPECT_EQ(table.ChildNames(),
              (std::vector<std::string>{"RowNames", "ColumnNames", "Row", "Row", "Row"}));
    EXPECT_EQ(table.Columns(), "K;error");
    EXPECT_EQ(table.Rows(), (std::vector<std::string>{"3;" + FormatDouble(errors[0]),
                                                      "4;" + FormatDouble(errors[1]),
                                                      "5;" + FormatDouble(errors[2])}));
    // The echo names the fold field and the K range instead of a fixed K.
    const XmlNode& parameters = *e.root.Child("MiningBuildTask")->children[0].Child("Parameters");
    EXPECT_EQ(parameters.Child("Parameter", "VFoldVar")->Attr("value"), "fold");
    EXPECT_EQ(parameters.Child("Parameter", "MinK")->Attr("value"), "3");
    EXPECT_EQ(parameters.Child("Parameter", "MaxK")->Attr("value"), "5");
    EXPECT_EQ(parameters.Child("Parameter", "SpecifiedK"), nullptr);
}
