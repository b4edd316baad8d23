// Prediction factories: one search with the largest K serves a whole range of K.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <vector>

#include "ModelFixture.h"
#include "TestSources.h"
#include "knn/predict/KNNPredictionFactory.h"
#include "knn/predict/KNNPredictionSummary.h"

using knn_test::AutoK;
using knn_test::ModelFixture;
using knn_test::SettingsDocument;
using namespace KNN_800;

namespace {

// 40 cases on a coarse grid, so that many distances tie; folds of sizes 16, 16 and 8.
test::VectorRecordSource GridCases() {
    std::mt19937 random(5);
    std::uniform_int_distribution<int> grid(0, 5);
    test::VectorRecordSource source;
    for (int i = 0; i < 40; ++i) {
        const double x1 = 2.0 * grid(random);
        const double x2 = -5.0 + 2.0 * grid(random);
        const double fold = i % 5 < 2 ? 0 : (i % 5 < 4 ? 1 : 2);
        // id, x1, x2, x3, c, y, cls, focal, fold, label
        source.Add({double(i + 1), x1, x2, 0.5, 0, 3.0 * x1 - x2 + (i % 7), double(i % 3 == 0), 1,
                    fold, 0});
    }
    return source;
}

// 400 cases with continuous values and a heavy-tailed target, whose squared errors add up
// to different doubles in different orders.
test::VectorRecordSource RandomCases() {
    std::mt19937 random(17);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::lognormal_distribution<double> heavy(0.0, 2.0);
    test::VectorRecordSource source;
    for (int i = 0; i < 400; ++i) {
        const double x1 = uniform(random);
        const double x2 = uniform(random);
        source.Add({double(i + 1), x1, x2, 0.5, 0, heavy(random), double(i % 3 == 0), 1,
                    double(i % 3), 0});
    }
    return source;
}

}  // namespace

TEST(PredictionFactory, KRangeEqualsSeparateSingleKFactories) {
    for (const char* target : {"cls", "y"}) {
        SCOPED_TRACE(target);
        ModelFixture fixture;
        test::VectorRecordSource source = GridCases();
        ASSERT_TRUE(fixture.Build(AutoK(target, 1, 6), source).IsOK());
        KNNSingleResponseModel& model = fixture.Model(0);
        for (const uint32_t fold : {kNoFold, 1u}) {
            if (fold != kNoFold) {
                ASSERT_TRUE(model.BuildTreeForFold(model.Features(), int(fold)).IsOK());
            }
            KNNKSelePredictionFactory range({model.Summary()}, 2, 6, nullptr);
            ASSERT_TRUE(
                range.ScoreCases(*model.Tree(), {model.Rows(), knn_test::kFold, fold}, 6).IsOK());
            for (int k = 2; k <= 6; ++k) {
                KNNPredictionFactory single({model.Summary()}, nullptr, false);
                ASSERT_TRUE(
                    single.ScoreCases(*model.Tree(), {model.Rows(), knn_test::kFold, fold}, k)
                        .IsOK());
                EXPECT_DOUBLE_EQ(range.ErrorsByK()[0][size_t(k - 2)], single.Errors()[0])
                    << "K = " << k << ", fold " << fold;
            }
        }
    }
}

TEST(PredictionFactory, FoldsNullSummariesAndCriteria) {
    ModelFixture fixture;
    test::VectorRecordSource source = GridCases();
    ASSERT_TRUE(fixture.Build(AutoK("cls", 1, 6), source).IsOK());
    KNNSingleResponseModel& model = fixture.Model(0);
    ASSERT_TRUE(model.BuildTreeForFold(model.Features(), 2).IsOK());

    // Only the eight cases of fold 2 are scored; the error rate still divides by all 40 rows.
    KNNPredictionFactory factory({model.Summary()}, nullptr, false);
    ASSERT_TRUE(factory.ScoreCases(*model.Tree(), {model.Rows(), knn_test::kFold, 2}, 3).IsOK());
    std::vector<double*> foldRows;
    for (double* row : model.Rows()) {
        if (row[knn_test::kFold] == 2)
            foldRows.push_back(row);
    }
    ASSERT_EQ(foldRows.size(), 8u);
    KNNPredictionFactory direct({model.Summary()}, nullptr, false);
    ASSERT_TRUE(direct.ScoreCases(*model.Tree(), {foldRows}, 3).IsOK());
    EXPECT_EQ(factory.Errors(), direct.Errors());
    EXPECT_DOUBLE_EQ(factory.GetCriteria()[0], 1.0 - factory.Errors()[0] / 40.0);

    // A missing summary: every case is still searched, nothing is predicted or reported.
    KNNPredictionFactory partial({nullptr, model.Summary()}, nullptr, false);
    EXPECT_FALSE(partial.AllPresent());
    ASSERT_TRUE(partial.ScoreCases(*model.Tree(), {model.Rows()}, 3).IsOK());
    EXPECT_EQ(partial.Errors(), (std::vector<double>{0.0, 0.0}));
    EXPECT_EQ(partial.GetCriteria().size(), 1u);
}

TEST(PredictionFactory, AnEmptyTreeFindsNoNeighbourAndInterruptionStops) {
    ModelFixture fixture;
    test::VectorRecordSource source = GridCases();
    ASSERT_TRUE(fixture.Build(AutoK("y", 1, 6), source).IsOK());
    KNNSingleResponseModel& model = fixture.Model(0);
    KNNPredictionFactory factory({model.Summary()}, &fixture.context.probe, false);

    // Leave out a fold that holds every case: nothing to find.
    std::vector<double*> rows = model.Rows();
    for (double* row : rows)
        row[knn_test::kFold] = 0;
    ASSERT_TRUE(model.BuildTreeForFold(model.Features(), 0).IsOK());
    EXPECT_EQ(factory.ScoreCases(*model.Tree(), {rows}, 3).GetErrorCode(), 200064);

    test::CountdownChecker checker(5);
    fixture.context.probe.checker = &checker;
    EXPECT_EQ(factory.ScoreCases(*model.Tree(), {rows}, 3).GetErrorCode(), 1);
    EXPECT_EQ(checker.calls, 6);
}

// With a bound, the rows are searched in the tree's case order; the criterion must still be
// the row-order sum to the bit.
TEST(PredictionFactory, GivesUpOnlyWhenTheCriterionCannotComeOutBelowTheBound) {
    for (const char* target : {"cls", "y"}) {
        for (bool grid : {true, false}) {
            SCOPED_TRACE(std::string(target) + (grid ? " grid" : " random"));
            ModelFixture fixture;
            test::VectorRecordSource source = grid ? GridCases() : RandomCases();
            ASSERT_TRUE(fixture.Build(AutoK(target, 1, 6), source).IsOK());
            KNNSingleResponseModel& model = fixture.Model(0);
            ASSERT_TRUE(model.BuildTreeForFold(model.Features(), -1).IsOK());
            KNNPredictionFactory factory({model.Summary()}, nullptr, false);
            ASSERT_TRUE(factory.ScoreCases(*model.Tree(), {model.Rows()}, 3).IsOK());
            const double criterion = factory.GetCriteria()[0];

            // A bound just above the final criterion: scoring runs to the end with the same result.
            factory.SetGiveUpAt(criterion * (1.0 + 1e-9) + 1e-12);
            ASSERT_TRUE(factory.ScoreCases(*model.Tree(), {model.Rows()}, 3).IsOK());
            EXPECT_FALSE(factory.Abandoned());
            EXPECT_EQ(factory.GetCriteria()[0], criterion);

            // A bound the criterion reaches: scoring may stop, and stops before the last case.
            factory.SetGiveUpAt(criterion * 0.5);
            ASSERT_TRUE(factory.ScoreCases(*model.Tree(), {model.Rows()}, 3).IsOK());
            EXPECT_TRUE(factory.Abandoned());
        }
    }
}

// A pass that may give up searches in tree order; when a case's error cannot be computed there,
// the pass is redone in row order, so the status is the one row order reports.
TEST(PredictionFactory, AFailingCaseReportsTheSameStatusWhetherOrNotThePassMayGiveUp) {
    test::VectorRecordSource source;
    for (int i = 0; i < 30; ++i) {
        // id, x1, x2, x3, c, y, cls, focal, fold, label; y so large that errors overflow
        source.Add({double(i + 1), double(i % 6), double(i / 6), 0.5, 0,
                    (i % 2 == 0 ? 1.0 : -1.0) * 1e200, double(i % 3 == 0), 1, double(i % 3), 0});
    }
    SettingsDocument settings;
    settings.Roles().Target("y").Predictor("x1").Predictor("x2").Param("SpecifiedK", "int", "2");
    ModelFixture fixture;
    ASSERT_TRUE(fixture.Build(settings, source).IsOK());
    KNNSingleResponseModel& model = fixture.Model(0);
    ASSERT_TRUE(model.BuildTreeForFold(model.Features(), -1).IsOK());
    KNNPredictionFactory factory({model.Summary()}, nullptr, false);
    const long inRowOrder = factory.ScoreCases(*model.Tree(), {model.Rows()}, 2).GetErrorCode();
    EXPECT_EQ(inRowOrder, 200059);
    factory.SetGiveUpAt(1.0);
    EXPECT_EQ(factory.ScoreCases(*model.Tree(), {model.Rows()}, 2).GetErrorCode(), inRowOrder);
    EXPECT_FALSE(factory.Abandoned());
}

TEST(PredictionFactory, CountsOfCorrectVotesAreTheSameInAnyOrderAndAFailureInRowOrder) {
    ModelFixture fixture;
    test::VectorRecordSource source = GridCases();
    ASSERT_TRUE(fixture.Build(AutoK("cls", 1, 6), source).IsOK());
    KNNSingleResponseModel& model = fixture.Model(0);
    std::vector<int> order(model.Rows().size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = static_cast<int>(order.size() - 1 - i);
    }
    std::shuffle(order.begin(), order.end(), std::mt19937(9));
    for (const uint32_t fold : {0u, 1u, 2u}) {
        ASSERT_TRUE(model.BuildTreeForFold(model.Features(), int(fold)).IsOK());
        KNNKSelePredictionFactory rowOrder({model.Summary()}, 1, 6, nullptr);
        KNNKSelePredictionFactory shuffled({model.Summary()}, 1, 6, nullptr);
        const CaseRows all{model.Rows(), knn_test::kFold, fold};
        ASSERT_TRUE(rowOrder.ScoreCases(*model.Tree(), all, 6).IsOK());
        ASSERT_TRUE(
            shuffled.ScoreCases(*model.Tree(), {model.Rows(), knn_test::kFold, fold, order}, 6)
                .IsOK());
        EXPECT_EQ(shuffled.ErrorsByK(), rowOrder.ErrorsByK()) << "fold " << fold;
    }

    // A pass in another order that meets a failing row reports what the row order reports.
    std::vector<double*> rows = model.Rows();
    std::vector<double> broken(rows.front(), rows.front() + 10);
    broken[knn_test::kX1] = std::numeric_limits<double>::infinity();  // no distance to it
    broken[knn_test::kFold] = 1;
    rows[5] = broken.data();
    // A second one, failing along another field, which the shuffled order meets first.
    std::vector<double> other(broken);
    other[knn_test::kX1] = 0.0;
    other[knn_test::kX2] = std::numeric_limits<double>::infinity();
    rows[39] = other.data();
    ASSERT_LT(std::find(order.begin(), order.end(), 39), std::find(order.begin(), order.end(), 5));
    KNNKSelePredictionFactory rowOrder({model.Summary()}, 1, 6, nullptr);
    KNNKSelePredictionFactory shuffled({model.Summary()}, 1, 6, nullptr);
    const VelCommon_940::VelStatus expected =
        rowOrder.ScoreCases(*model.Tree(), {rows, knn_test::kFold, 1u}, 6);
    const VelCommon_940::VelStatus got =
        shuffled.ScoreCases(*model.Tree(), {rows, knn_test::kFold, 1u, order}, 6);
    EXPECT_EQ(expected.GetErrorCode(), 200064);
    EXPECT_EQ(got.GetErrorCode(), expected.GetErrorCode());
    EXPECT_EQ(got.GetDiscreteDatum(0), expected.GetDiscreteDatum(0));
    EXPECT_EQ(shuffled.ErrorsByK(), rowOrder.ErrorsByK());
}

// The passes on three threads: the errors of one thread to the bit, the same early stop, and
// the status of the first failing case in the single-threaded order.
TEST(PredictionFactory, ThreadedPassesGiveTheErrorsAndStatusesOfOneThread) {
    ModelFixture fixture;
    test::VectorRecordSource source = RandomCases();
    ASSERT_TRUE(fixture.Build(AutoK("y", 1, 6), source).IsOK());
    KNNSingleResponseModel& model = fixture.Model(0);
    for (const uint32_t fold : {0u, 1u, 2u}) {
        ASSERT_TRUE(model.BuildTreeForFold(model.Features(), int(fold)).IsOK());
        KNNKSelePredictionFactory one({model.Summary()}, 1, 6, nullptr);
        KNNKSelePredictionFactory three({model.Summary()}, 1, 6, nullptr);
        three.SetThreads(3);
        const CaseRows cases{model.Rows(), knn_test::kFold, fold};
        ASSERT_TRUE(one.ScoreCases(*model.Tree(), cases, 6).IsOK());
        ASSERT_TRUE(three.ScoreCases(*model.Tree(), cases, 6).IsOK());
        EXPECT_EQ(three.ErrorsByK(), one.ErrorsByK()) << "fold " << fold;
    }
    ASSERT_TRUE(model.BuildTreeForFold(model.Features(), -1).IsOK());
    KNNPredictionFactory one({model.Summary()}, nullptr, false);
    KNNPredictionFactory three({model.Summary()}, nullptr, false);
    three.SetThreads(3);
    ASSERT_TRUE(one.ScoreCases(*model.Tree(), {model.Rows()}, 4).IsOK());
    ASSERT_TRUE(three.ScoreCases(*model.Tree(), {model.Rows()}, 4).IsOK());
    EXPECT_EQ(three.GetCriteria(), one.GetCriteria());
    three.SetGiveUpAt(one.GetCriteria()[0] * (1.0 + 1e-9));
    ASSERT_TRUE(three.ScoreCases(*model.Tree(), {model.Rows()}, 4).IsOK());
    EXPECT_FALSE(three.Abandoned());
    EXPECT_EQ(three.GetCriteria(), one.GetCriteria());
    three.SetGiveUpAt(one.GetCriteria()[0] * 0.5);
    ASSERT_TRUE(three.ScoreCases(*model.Tree(), {model.Rows()}, 4).IsOK());
    EXPECT_TRUE(three.Abandoned());

    // Two failing cases: an infinite value (its search needs the tree's node records, so it is
    // put aside for the calling thread) and another one later in row order; row order reports
    // the first.
    std::vector<double*> rows = model.Rows();
    std::vector<double> broken(rows[7], rows[7] + 10);
    broken[knn_test::kX1] = std::numeric_limits<double>::infinity();
    rows[7] = broken.data();
    std::vector<double> other(broken);
    other[knn_test::kX1] = 0.0;
    other[knn_test::kX2] = std::numeric_limits<double>::infinity();
    rows[300] = other.data();
    KNNKSelePredictionFactory rowOrder({model.Summary()}, 1, 6, nullptr);
    KNNKSelePredictionFactory threaded({model.Summary()}, 1, 6, nullptr);
    threaded.SetThreads(3);
    const VelCommon_940::VelStatus expected = rowOrder.ScoreCases(*model.Tree(), {rows}, 6);
    const VelCommon_940::VelStatus got = threaded.ScoreCases(*model.Tree(), {rows}, 6);
    EXPECT_EQ(expected.GetErrorCode(), 200064);
    EXPECT_EQ(got.GetErrorCode(), expected.GetErrorCode());
    EXPECT_EQ(got.GetDiscreteDatum(0), expected.GetDiscreteDatum(0));
    EXPECT_EQ(got.GetMessage(), expected.GetMessage());
}
