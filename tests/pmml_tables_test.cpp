// The tables of the model document on builds small enough to check by hand: original data,
// neighbours and distances, probabilities, analysis options, error summaries, confusion
// matrices and selection histories, for joint scoring, one pass per model and no target.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>

#include "PmmlTestSupport.h"
#include "TestSources.h"
#include "VelMV.h"
#include "knn/selection/KNNAutoKSelection.h"
#include "knn/selection/KNNBothKAndFeaSelection.h"
#include "knn/selection/KNNModelSelection.h"
#include "knn/tables/KNNTableFormat.h"

using namespace knn_test;
using KNN_800::FormatDouble;
using KNN_800::test::VectorRecordSource;
using Lines = std::vector<std::string>;

namespace {

// Extra fields: w, the one predictor (range 0 ... 10, -1 declared missing); s, a string field
// whose texts need escaping; u, an unused continuous field.
const char* const kExtraFields =
    "<Field name=\"w\" kind=\"continuous\" min=\"0\" max=\"10\"><Missing value=\"-1\"/></Field>"
    "<Field name=\"s\" kind=\"categorical-string\"><Category value=\"a;b\"/>"
    "<Category value=\"c\\d\"/><Category value=\"plain\"/></Field>"
    "<Field name=\"u\" kind=\"continuous\" min=\"0\" max=\"1\"/>";

// Six cases along w = 0, 1, 3, 7, 8, 10 (rescaled: 0.2 per unit), so that each case has two
// distinct nearest neighbours: 1 → 2, 3; 2 → 1, 3; 3 → 2, 1; 4 → 5, 6; 5 → 4, 6; 6 → 5, 4.
// cls is "no" for the first two cases; y grows with w.
VectorRecordSource HandCases(double thirdId = 13) {
    const double id[] = {11, 12, thirdId, 14, 15, 16}, w[] = {0, 1, 3, 7, 8, 10};
    const double y[] = {10, 20, 30, 70, 80, 100}, s[] = {0, 1, 2, -1, 0, 0};
    const double u[] = {0.5, VelCommon_940::VelMV::Missing(), 0.25, 0, 0, 0};
    VectorRecordSource source;
    for (int i = 0; i < 6; ++i) {
        // id, x1, x2, x3, c, y, cls, focal, fold, label, w, s, u
        source.Add({id[i], 0, 0, 0.5, 0, y[i], i < 2 ? 0.0 : 1.0, 1, 0, 0, w[i], s[i], u[i]});
    }
    return source;
}

SettingsDocument HandSettings(const ScratchDir& dir, bool withTargets) {
    SettingsDocument d;
    d.ExtraField(kExtraFields)
        .Roles()
        .Predictor("w")
        .Param("SpecifiedK", "int", "2")
        .Param("TempFileDir", "string", dir.Prefix());
    if (withTargets)
        d.Target("cls").Target("y");
    return d;
}

}  // namespace

TEST(PmmlTables, CaseTablesAndQualityOfAJointScoringPass) {
    ScratchDir dir;
    ExportedModel e;
    VectorRecordSource source = HandCases();
    ASSERT_TRUE(e.Build(HandSettings(dir, true), source));
    ASSERT_TRUE(e.Export().IsOK()) << e.status.GetMessage();

    // Values in the fields' own terms: w mapped back from its rescaled form (its 0 is not the
    // declared missing -1), unused fields as stored, ';' and '\' escaped, missing values.
    const std::string original = Table(e.document, "originalData");
    EXPECT_EQ(Columns(original), "ID;id;x1;x2;x3;c;y;cls;focal;fold;label;w;s;u");
    EXPECT_EQ(
        Texts(original),
        (Lines{"1;11;0;0;0.5;a;10;no;1;1;p;0;a\\;b;0.5", "2;12;0;0;0.5;a;20;no;1;1;p;1;c\\\\d;-inf",
               "3;13;0;0;0.5;a;30;yes;1;1;p;3;plain;0.25", "4;14;0;0;0.5;a;70;yes;1;1;p;7;-1;0",
               "5;15;0;0;0.5;a;80;yes;1;1;p;8;a\\;b;0",
               "6;16;0;0;0.5;a;100;yes;1;1;p;10;a\\;b;0"}));

    // cls: predicted categories for k = 1, 2 (a 1:1 vote goes to the more frequent "yes"),
    // probabilities (votes + 1) / (2 + 2). Cases 1, 2 and 3 are misclassified.
    const std::string cls = e.Model(0);
    EXPECT_EQ(cls.rfind("<NearestNeighborModel modelName=\"cls\" response=\"cls\">", 0), 0u);
    EXPECT_EQ(Columns(Table(cls, "neighborsDistances")),
              "ID;id;neighbor1;neighbor2;distance1;distance2;prediction1;prediction2");
    EXPECT_EQ(
        Texts(Table(cls, "neighborsDistances")),
        (Lines{"1;11;12;13;0.2;0.6;0;1", "2;12;11;13;0.2;0.4;0;1", "3;13;12;11;0.4;0.6;0;0",
               "4;14;15;16;0.2;0.6;1;1", "5;15;14;16;0.2;0.4;1;1", "6;16;15;14;0.4;0.6;1;1"}));
    EXPECT_EQ(Columns(Table(cls, "predictionProbability")), "ID;probability-no;probability-yes");
    EXPECT_EQ(Texts(Table(cls, "predictionProbability")),
              (Lines{"1;0.5;0.5", "2;0.5;0.5", "3;0.75;0.25", "4;0.25;0.75", "5;0.25;0.75",
                     "6;0.25;0.75"}));
    EXPECT_EQ(Texts(Table(cls, "AnalysisOptions")),
              Lines{"Euclidean;Normalized;one-of-c;Mean;2;1"});
    const std::string clsQuality = Table(cls, "modelQuality");
    EXPECT_EQ(Texts(Table(clsQuality, "errorSummary")), Lines{"cls;0.5"});
    EXPECT_EQ(Columns(Table(clsQuality, "confusionMatrix")), "no;yes");
    EXPECT_EQ(Texts(Table(clsQuality, "confusionMatrix")), (Lines{"0;2", "1;3"}));

    // y: means of the first k neighbours; squared errors 225, 0, 225, 400, 25 and 625.
    const std::string y = e.Model(1);
    EXPECT_EQ(Texts(Table(y, "neighborsDistances"))[0], "1;11;12;13;0.2;0.6;20;25");
    EXPECT_EQ(Table(y, "predictionProbability"), "");
    EXPECT_EQ(Texts(Table(y, "errorSummary")), Lines{"y;1500"});
    EXPECT_EQ(Columns(Table(y, "errorSummary")), "response;sumOfSquaredError");
    EXPECT_EQ(Table(y, "confusionMatrix"), "");

    // Models with different K share one search with the larger K; each writes, and is judged
    // by, its own K nearest. y with K = 1 predicts its nearest neighbour's value.
    e.fixture.Model(0).SetK(3);
    e.fixture.Model(1).SetK(1);
    ASSERT_TRUE(e.Export().IsOK());
    EXPECT_EQ(Texts(Table(e.Model(0), "neighborsDistances"))[0], "1;11;12;13;14;0.2;0.6;1.4;0;1;1");
    EXPECT_EQ(Texts(Table(e.Model(0), "predictionProbability"))[0], "1;0.4;0.6");
    EXPECT_EQ(Columns(Table(e.Model(1), "neighborsDistances")),
              "ID;id;neighbor1;distance1;prediction1");
    EXPECT_EQ(Texts(Table(e.Model(1), "neighborsDistances")),
              (Lines{"1;11;12;0.2;20", "2;12;11;0.2;10", "3;13;12;0.4;20", "4;14;15;0.2;80",
                     "5;15;14;0.2;70", "6;16;15;0.4;80"}));
    EXPECT_EQ(Texts(Table(e.Model(1), "errorSummary")), Lines{"y;900"});
    EXPECT_TRUE(dir.Files().empty());
}

TEST(PmmlTables, NeighbourOnlyModel) {
    ScratchDir dir;
    ExportedModel e;
    VectorRecordSource source = HandCases(13.9);
    ASSERT_TRUE(e.Build(HandSettings(dir, false), source));
    ASSERT_TRUE(e.Export().IsOK());

    EXPECT_EQ(Element(e.document, "<NearestNeighborModel ", 1), "");
    const std::string model = e.Model(0);
    EXPECT_EQ(TagLines(model, 0), Lines{"<NearestNeighborModel modelName=\"\" response=\"\">"});
    EXPECT_EQ(TagLines(model, 8),
              (Lines{"<SimpleTable name=\"AnalysisOptions\">", "<MiningSchema>", "<SimpleTable"}));
    EXPECT_EQ(Element(model, "<MiningSchema>"),
              "<MiningSchema>\n          <MiningField name=\"w\" usageType=\"active\"/>\n"
              "        </MiningSchema>");
    EXPECT_EQ(Texts(Table(model, "AnalysisOptions")),
              Lines{"Euclidean;Normalized;one-of-c;Mean;2;1"});
    // Identifiers as whole numbers; the original data keep the stored value.
    const std::string neighbours = Table(model, "neighborsDistances");
    EXPECT_EQ(Columns(neighbours), "ID;id;neighbor1;neighbor2;distance1;distance2");
    EXPECT_EQ(Texts(neighbours)[0], "1;11;12;13;0.2;0.6");
    EXPECT_EQ(Texts(neighbours)[2].rfind("3;13;", 0), 0u);
    EXPECT_EQ(Texts(Table(e.document, "originalData"))[2].rfind("3;13.9;", 0), 0u);
    EXPECT_EQ(e.document.find("<Parameter name=\"target\">"), std::string::npos);
}

namespace {

// 45 cases: cls follows x1, c follows x2 (three bands), each with noise; folds 0, 1, 2.
VectorRecordSource TwoSignalCases() {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    VectorRecordSource source;
    for (int i = 0; i < 45; ++i) {
        const double x1 = 10.0 * unit(random), x2 = 10.0 * unit(random) - 5.0;
        const double cls = x1 + 3.0 * unit(random) > 6.5 ? 1 : 0;
        const double c = x2 + 2.0 * unit(random) < -1.0 ? 0 : (x2 < 2.5 ? 1 : 2);
        source.Add({i + 1.0, x1, x2, unit(random), c, 0, cls, 1, i % 3 + 0.0, 0});
    }
    return source;
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
    ASSERT_EQ(e.fixture.Model(0).Features(), std::vector<int>{kX1});
    ASSERT_EQ(e.fixture.Model(1).Features(), std::vector<int>{kX2});
    ASSERT_TRUE(e.Export().IsOK());

    const std::vector<double*>& rows = e.fixture.preparation->Rows();
    const KNN_800::KNNBothKAndFeaSelection& joint =
        *e.fixture.model->Selection()->GetKAndFeatureSelection();
    for (int m = 0; m < 2; ++m) {
        SCOPED_TRACE(m);
        const KNN_800::KNNSingleResponseModel& model = e.fixture.Model(m);
        const int K = model.GetK(), column = model.Features()[0];
        const std::string element = e.Model(m);

        // The model's own tree and K: K neighbours per row, the first one the nearest case
        // along the model's one feature.
        const Lines neighbourRows = Texts(Table(element, "neighborsDistances"));
        ASSERT_EQ(neighbourRows.size(), rows.size());
        for (size_t r = 0; r < rows.size(); ++r) {
            size_t nearest = r == 0 ? 1 : 0;
            for (size_t o = 0; o < rows.size(); ++o) {
                if (o != r && std::fabs(rows[o][column] - rows[r][column]) <
                                  std::fabs(rows[nearest][column] - rows[r][column])) {
                    nearest = o;
                }
            }
            const std::string start = std::to_string(r + 1) + ";" + std::to_string(r + 1) + ";" +
                                      std::to_string(nearest + 1) + ";";
            EXPECT_EQ(neighbourRows[r].rfind(start, 0), 0u) << neighbourRows[r];
            EXPECT_EQ(std::count(neighbourRows[r].begin(), neighbourRows[r].end(), ';'), 1 + 3 * K);
        }

        // Quality from the model's own pass, untouched by the other model's pass: all 45
        // cases in the confusion matrix, its diagonal agreeing with the error summary.
        const Lines counts = Texts(Table(element, "confusionMatrix"));
        ASSERT_EQ(counts.size(), m == 0 ? 2u : 3u);
        int total = 0, correct = 0;
        for (size_t r = 0; r < counts.size(); ++r) {
            std::istringstream cells(counts[r]);
            size_t p = 0;
            for (std::string cell; std::getline(cells, cell, ';'); ++p) {
                total += std::stoi(cell);
                correct += p == r ? std::stoi(cell) : 0;
            }
        }
        EXPECT_EQ(total, 45);
        EXPECT_EQ(Texts(Table(element, "errorSummary"))[0],
                  (m == 0 ? "cls;" : "c;") + FormatDouble(1.0 - correct / 45.0));

        // One block per K of the range; "yes" only in the chosen K's block.
        const std::string history = Table(element, "FeatureKSelection");
        Lines expected;
        for (int j = 0; j < 3; ++j) {
            const size_t entry = 3 * m + j;
            expected.push_back(
                "1;" + std::string(joint.GetFeatureLists()[entry].back() == kX1 ? "x1" : "x2") +
                ";" + std::to_string(2 + j) + ";" +
                FormatDouble(joint.GetErrorHistories()[entry].back()) +
                (2 + j == K ? ";yes" : ";no"));
        }
        EXPECT_EQ(Texts(history), expected);
    }
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
    const std::string table = Table(e.Model(0), "KSelection");
    EXPECT_EQ(TagLines(table, 10), (Lines{"<RowNames/>", "<ColumnNames>K;error</ColumnNames>",
                                          "<Row>3;" + FormatDouble(errors[0]) + "</Row>",
                                          "<Row>4;" + FormatDouble(errors[1]) + "</Row>",
                                          "<Row>5;" + FormatDouble(errors[2]) + "</Row>"}));
    // The echo names the fold field and the K range instead of a fixed K.
    EXPECT_NE(e.document.find("<Parameter name=\"VFoldVar\" type=\"fieldName\" value=\"fold\"/>"),
              std::string::npos);
    EXPECT_NE(e.document.find("<Parameter name=\"MinK\" type=\"integer\" value=\"3\"/>\n"
                              "        <Parameter name=\"MaxK\" type=\"integer\" value=\"5\"/>\n"
                              "        <Parameter name=\"VFoldValue\""),
              std::string::npos);
}

TEST(TableFormat, DoublesAreTheTextOfPrintfWithFifteenDigits) {
    const auto printf15 = [](double value) {
        char text[64];
        std::snprintf(text, sizeof text, "%.15g", value);
        return std::string(text);
    };
    std::vector<double> values = {0.0,
                                  -0.0,
                                  0.1 + 0.2,
                                  1e15,
                                  999999999999999.5,
                                  123456789012345678.0,
                                  1e-5,
                                  0.0001,
                                  9.99999999999999e-5,
                                  std::numeric_limits<double>::max(),
                                  std::numeric_limits<double>::min(),
                                  std::numeric_limits<double>::denorm_min(),
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN(),
                                  -std::numeric_limits<double>::quiet_NaN(),
                                  VelCommon_940::VelMV::Missing()};
    // Every exponent and sign, with random mantissas, and round numbers near the switch
    // between fixed and exponent notation.
    std::mt19937_64 random(3);
    for (int i = 0; i < 200000; ++i) {
        const uint64_t bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        values.push_back(value);
    }
    for (int e = -20; e <= 20; ++e) {
        values.push_back(std::pow(10.0, e));
        values.push_back(std::nextafter(std::pow(10.0, e), 0.0));
    }
    std::string appended = "x";
    for (const double value : values) {
        ASSERT_EQ(KNN_800::FormatDouble(value), printf15(value)) << std::hexfloat << value;
    }
    KNN_800::AppendDouble(appended, 2.5);
    EXPECT_EQ(appended, "x2.5");
}
