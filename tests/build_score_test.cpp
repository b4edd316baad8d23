// Building and scoring through the factory, as a host does: records in, neighbours and
// predictions out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>

#include "ModelFixture.h"
#include "SettingsDocument.h"
#include "TestSources.h"
#include "VelMV.h"
#include "knn/api/KNNFactory.h"

using KNN_800::test::CountdownChecker;
using KNN_800::test::CountingSink;
using KNN_800::test::VectorRecordSource;
using knn_test::SettingsDocument;
using VelCommon_940::IVelAlgorithm;
using VelCommon_940::Record;
using VelCommon_940::VelMV;

namespace {

const double M = VelMV::Missing();

// id, x1, x2, x3, c, y, cls, focal, fold, label
std::vector<double> Case(double id, double x1, double cls, double y = 0.0, double x2 = 0.0) {
    return {id, x1, x2, 0.5, 0, y, cls, 1, 0, 0};
}

// Six cases along x1: three of class 0 on the left, three of class 1 on the right.
VectorRecordSource SixCases() {
    return {Case(1, 0, 0, 10), Case(2, 1, 0, 20), Case(3, 2, 0, 30),
            Case(4, 8, 1, 80), Case(5, 9, 1, 90), Case(6, 10, 1, 100)};
}

std::unique_ptr<IVelAlgorithm> Create(const SettingsDocument& document,
                                      KNN_800::KNNFactory& factory) {
    std::istringstream in(document.Xml());
    return std::unique_ptr<IVelAlgorithm>(factory.CreateVelAlgorithm(in));
}

// Builds `document` on the six cases and scores one record at `x1` without an identifier.
std::vector<std::vector<double>> ScoreAfterBuild(const SettingsDocument& document, double x1) {
    KNN_800::KNNFactory factory;
    auto algorithm = Create(document, factory);
    std::vector<std::vector<double>> result;
    if (algorithm == nullptr) {
        ADD_FAILURE() << factory.GetStatus().GetMessage();
        return result;
    }
    VectorRecordSource source = SixCases();
    EXPECT_TRUE(algorithm->Build(source).IsOK());
    EXPECT_TRUE(
        algorithm->Score(Record({M, x1, 0, 0.5, 0, 0, 0, 1, 0, 0}), nullptr, result).IsOK());
    return result;
}

}  // namespace

TEST(BuildAndScore, HandComputedClassification) {
    KNN_800::KNNFactory factory;
    SettingsDocument d;
    d.Roles().Target("cls").Predictor("x1");
    auto algorithm = Create(d, factory);
    ASSERT_NE(algorithm, nullptr) << factory.GetStatus().GetMessage();
    VectorRecordSource source = SixCases();
    const auto built = algorithm->Build(source);
    ASSERT_TRUE(built.IsOK()) << built.GetErrorCode() << " " << built.GetMessage();
    ASSERT_TRUE(algorithm->IsBuilt());

    // x1 = 1.4 rescaled to -0.72; no identifier, so a training case could match it.
    std::vector<std::vector<double>> result;
    const Record query({M, 1.4, 0, 0.5, 0, 0, 0, 1, 0, 0});
    ASSERT_TRUE(algorithm->Score(query, nullptr, result).IsOK());
    ASSERT_EQ(result.size(), 1u);
    const std::vector<double>& r = result[0];
    // 3 ids, 3 distances, 2 probabilities + 3 predicted classes, 3 labels.
    ASSERT_EQ(r.size(), 14u);
    EXPECT_EQ(std::vector<double>(r.begin(), r.begin() + 3), (std::vector<double>{2, 3, 1}));
    EXPECT_NEAR(r[3], 0.08, 1e-12);
    EXPECT_NEAR(r[4], 0.12, 1e-12);
    EXPECT_NEAR(r[5], 0.28, 1e-12);
    EXPECT_DOUBLE_EQ(r[6], 0.8);  // (3 + 1) / (2 + 3)
    EXPECT_DOUBLE_EQ(r[7], 0.2);
    EXPECT_EQ(std::vector<double>(r.begin() + 8, r.begin() + 11), (std::vector<double>{0, 0, 0}));
    for (size_t i = 11; i < 14; ++i) {
        EXPECT_TRUE(VelMV::IsMissing(r[i]));
    }

    // The same point carrying training case 2's identifier never finds case 2 itself.
    const Record self({2, 1.0, 0, 0.5, 0, 0, 0, 1, 0, 0});
    ASSERT_TRUE(algorithm->Score(self, nullptr, result).IsOK());
    std::vector<double> ids(result[0].begin(), result[0].begin() + 3);
    std::sort(ids.begin(), ids.end());  // cases 1 and 3 are equally near
    EXPECT_EQ(ids, (std::vector<double>{1, 3, 4}));
}

TEST(BuildAndScore, RegressionWithTwoTargetsSharesOneSearch) {
    SettingsDocument d;
    d.Roles()
        .Target("cls")
        .Target("y")
        .Predictor("x1")
        .Param("SpecifiedK", "int", "2")
        .Param("ComputePredValFunc", "string", "Median");
    const std::vector<std::vector<double>> result = ScoreAfterBuild(d, 8.4);
    ASSERT_EQ(result.size(), 2u);
    // Categorical first: ids 4, 5; then the continuous target: medians of 80 and (80, 90).
    EXPECT_EQ(result[0][0], 4);
    EXPECT_EQ(result[0][1], 5);
    ASSERT_EQ(result[1].size(), 2u + 2u + 2u + 2u);
    EXPECT_DOUBLE_EQ(result[1][4], 80.0);
    EXPECT_DOUBLE_EQ(result[1][5], 85.0);
}

TEST(BuildAndScore, NeighbourOnlyModel) {
    SettingsDocument d;
    d.Roles().Predictor("x1").Param("SpecifiedK", "int", "2");
    const std::vector<std::vector<double>> result = ScoreAfterBuild(d, 9.9);
    ASSERT_EQ(result.size(), 1u);
    ASSERT_EQ(result[0].size(), 6u);  // ids, distances, labels
    EXPECT_EQ(result[0][0], 6);
    EXPECT_EQ(result[0][1], 5);
}

TEST(BuildAndScore, RefusalsAndFailures) {
    KNN_800::KNNFactory factory;
    SettingsDocument d;
    d.Roles().Target("cls").Predictor("x1").Predictor("c");
    auto algorithm = Create(d, factory);
    ASSERT_NE(algorithm, nullptr);
    VectorRecordSource source = SixCases();
    source.records[1].Values()[4] = 2;  // c varies, so it is not constant
    ASSERT_TRUE(algorithm->Build(source).IsOK());

    std::vector<std::vector<double>> result{{7.0}};
    // Wrong width, and an unknown category of a used field: refused, result untouched.
    EXPECT_EQ(algorithm->Score(Record({1, 2, 3}), nullptr, result).GetErrorCode(), 200049);
    EXPECT_EQ(
        algorithm->Score(Record({M, 1, 0, 0.5, 5, 0, 0, 1, 0, 0}), nullptr, result).GetErrorCode(),
        200049);
    EXPECT_EQ(result, (std::vector<std::vector<double>>{{7.0}}));

    // A second build that fails leaves nothing to score with.
    source.resetResult = false;
    EXPECT_EQ(algorithm->Build(source).GetErrorCode(), 200001);
    EXPECT_FALSE(algorithm->IsBuilt());
    EXPECT_EQ(
        algorithm->Score(Record({M, 1, 0, 0.5, 0, 0, 0, 1, 0, 0}), nullptr, result).GetErrorCode(),
        6);
}

TEST(BuildAndScore, ADistanceTooLargeToRepresentNamesItsField) {
    // Choosing K searches the training cases, one of which lies so far out on x1 that the
    // square of its difference from the others cannot be represented.
    KNN_800::KNNFactory factory;
    auto choosing = Create(knn_test::AutoK("cls", 1, 2), factory);
    ASSERT_NE(choosing, nullptr);
    VectorRecordSource source = SixCases();
    for (size_t i = 0; i < source.records.size(); ++i) {
        source.records[i].Values()[knn_test::kFold] = static_cast<double>(i % 3);
        source.records[i].Values()[knn_test::kX2] = static_cast<double>(i);
    }
    source.records[2].Values()[knn_test::kX1] = 1e200;
    const VelCommon_940::VelStatus failed = choosing->Build(source);
    EXPECT_EQ(failed.GetErrorCode(), 200064);
    EXPECT_EQ(failed.GetDiscreteDatum(0), knn_test::kX1);
    EXPECT_NE(failed.GetMessage().find("a value of the field 'x1' is too large for a distance"),
              std::string::npos)
        << failed.GetMessage();

    // Scoring: the record's own value is too far from every training case.
    SettingsDocument d;
    d.Roles().Target("cls").Predictor("x1").Param("RescaleMethod", "bool", "false");
    auto algorithm = Create(d, factory);
    VectorRecordSource plain = SixCases();
    ASSERT_TRUE(algorithm->Build(plain).IsOK());
    std::vector<std::vector<double>> result;
    const VelCommon_940::VelStatus scored =
        algorithm->Score(Record({M, -1e300, 0, 0.5, 0, 0, 0, 1, 0, 0}), nullptr, result);
    EXPECT_EQ(scored.GetErrorCode(), 200064);
    EXPECT_EQ(scored.GetDiscreteDatum(0), knn_test::kX1);
}

TEST(BuildAndScore, InterruptionAndProgress) {
    KNN_800::KNNFactory factory;
    SettingsDocument d;
    d.Roles().Target("cls").Predictor("x1");
    {
        auto algorithm = Create(d, factory);
        CountdownChecker checker(2);
        algorithm->SetInterruptChecker(&checker);
        algorithm->SetInterruptChecker(nullptr);  // keeps the checker
        VectorRecordSource source = SixCases();
        EXPECT_EQ(algorithm->Build(source).GetErrorCode(), 1);
        EXPECT_EQ(checker.calls, 3);
    }
    {
        auto algorithm = Create(d, factory);
        CountingSink sink;
        algorithm->SetProgressSink(&sink);
        VectorRecordSource source = SixCases();
        ASSERT_TRUE(algorithm->Build(source).IsOK());
        // Model selection, then the tree build.
        EXPECT_EQ(sink.values, (std::vector<int>{1, 2}));
    }
}

TEST(BuildAndScore, ValidationCapsKWithAWarning) {
    KNN_800::KNNFactory factory;
    SettingsDocument d;
    d.Roles().Target("cls").Predictor("x1").Param("SpecifiedK", "int", "9");
    auto algorithm = Create(d, factory);
    VectorRecordSource source = SixCases();
    ASSERT_TRUE(algorithm->Build(source).IsOK());
    ASSERT_EQ(algorithm->GetWarnings()->size(), 1u);
    EXPECT_EQ(algorithm->GetWarnings()->front().GetErrorCode(), 200070);
    std::vector<std::vector<double>> result;
    ASSERT_TRUE(algorithm->Score(Record({M, 5, 0, 0.5, 0, 0, 0, 1, 0, 0}), nullptr, result).IsOK());
    EXPECT_EQ(result[0].size(), 5u + 5u + 2u + 5u + 5u);
}

TEST(BuildAndScore, OwnKOfEachTargetFromOneSharedSearch) {
    // Two targets share one tree, searched with the larger K (3); the classification target
    // uses K = 2.
    SettingsDocument d;
    d.Roles().Target("cls").Target("y").Predictor("x1").Param("SpecifiedK", "int", "3");
    knn_test::ModelFixture fixture;
    VectorRecordSource source = SixCases();
    ASSERT_TRUE(fixture.Build(d, source).IsOK());
    ASSERT_TRUE(fixture.model->SharedTree());
    fixture.Model(0).SetK(2);

    // x1 = 4.9: nearest 3 (class 0, y 30), then 4 (class 1, y 80), then 2 (class 0, y 20).
    const Record query({M, 4.9, 0, 0.5, 0, 0, 0, 1, 0, 0});
    std::vector<std::vector<double>> shared;
    ASSERT_TRUE(fixture.model->ScoreRecord(query, shared).IsOK());
    std::vector<std::vector<double>> own;
    ASSERT_TRUE(fixture.model->ScoreRecord(query, own, true).IsOK());

    // By default both targets cover the 3 searched neighbours: class 0 wins 2 to 1.
    ASSERT_EQ(shared[0].size(), 3u + 3u + 2u + 3u + 3u);
    EXPECT_DOUBLE_EQ(shared[0][6], 0.6);
    // With their own K: the class gets 2 neighbours, the vote of 2 and its probabilities,
    // (1 + 1) / (2 + 2) for each class; its predictions for k = 1, 2 are those of the shared
    // search (a tie of two goes to the lower category when frequencies are equal).
    ASSERT_EQ(own[0].size(), 2u + 2u + 2u + 2u + 2u);
    EXPECT_EQ(std::vector<double>(own[0].begin(), own[0].begin() + 2), (std::vector<double>{3, 4}));
    EXPECT_DOUBLE_EQ(own[0][4], 0.5);
    EXPECT_DOUBLE_EQ(own[0][5], 0.5);
    EXPECT_EQ(own[0][6], shared[0][3 + 3 + 2]);
    EXPECT_EQ(own[0][7], shared[0][3 + 3 + 2 + 1]);
    // The regression target keeps all three, as in the shared result.
    EXPECT_EQ(own[1], shared[1]);
    EXPECT_DOUBLE_EQ(own[1][6 + 2], (30.0 + 80.0 + 20.0) / 3.0);

    // A pointer that is not a ScoreOptions of this version is refused.
    KNN_800::KNNFactory factory;
    auto algorithm = Create(d, factory);
    ASSERT_NE(algorithm, nullptr);
    VectorRecordSource again = SixCases();
    ASSERT_TRUE(algorithm->Build(again).IsOK());
    VelCommon_940::ScoreOptions options;
    options.size = 1;
    EXPECT_EQ(algorithm->Score(query, &options, own).GetErrorCode(), 200049);
    options = VelCommon_940::ScoreOptions();
    options.perTargetK = true;
    EXPECT_TRUE(algorithm->Score(query, &options, own).IsOK());
}
