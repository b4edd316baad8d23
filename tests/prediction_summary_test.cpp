#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <memory>
#include <random>
#include <vector>

#include "knn/base/StatusCodes.h"
#include "knn/predict/CreateSummary.h"
#include "knn/predict/KNNCatPredictionSummary.h"
#include "knn/predict/KNNContPredictionSummary.h"

namespace KNN_800 {
namespace {

// Training rows of one column (the target) and a neighbour list over them, nearest first.
class Training {
public:
    explicit Training(const std::vector<double>& targets) : values(targets) {
        for (double& value : values) {
            rows.push_back(&value);
        }
    }
    // A full list of the given training rows in the given order.
    NeighborList List(const std::vector<uint32_t>& cases) const {
        NeighborList list;
        list.k = static_cast<int>(cases.size());
        list.count = list.k;
        list.entries.resize(cases.size() + 1);
        for (size_t j = 0; j < cases.size(); ++j) {
            list.entries[j] = Neighbor{static_cast<double>(j), cases[j]};
        }
        return list;
    }
    NeighborList All() const {
        std::vector<uint32_t> cases(values.size());
        for (size_t i = 0; i < cases.size(); ++i) {
            cases[i] = static_cast<uint32_t>(i);
        }
        return List(cases);
    }

    std::vector<double> values;
    std::vector<double*> rows;
};

TEST(CatSummary, VoteWithSmoothedProbabilities) {
    const Training training({1, 2, 2});
    const std::vector<int> frequencies{1, 1, 1};
    KNNCatPredictionSummary summary(0, 1, &frequencies, &training.rows);
    const std::vector<double>& p = summary.Predict(nullptr, training.All());
    ASSERT_EQ(p.size(), 4u);
    EXPECT_DOUBLE_EQ(p[0], 1.0 / 6.0);
    EXPECT_DOUBLE_EQ(p[1], 2.0 / 6.0);
    EXPECT_DOUBLE_EQ(p[2], 3.0 / 6.0);
    EXPECT_EQ(p[3], 2.0);
}

TEST(CatSummary, TiesGoToTheMoreFrequentThenTheLowerCategory) {
    const Training training({0, 1, 2, 1, 2});
    std::vector<int> frequencies{10, 30, 30};
    KNNCatPredictionSummary summary(0, 1, &frequencies, &training.rows);
    EXPECT_EQ(summary.Predict(nullptr, training.List({0, 1})).back(), 1.0);
    frequencies = {10, 10, 10};
    EXPECT_EQ(summary.Predict(nullptr, training.List({0, 1})).back(), 0.0);
    // Frequency only separates categories that share the most votes.
    frequencies = {100, 5, 5};
    EXPECT_EQ(summary.Predict(nullptr, training.List({1, 2, 3, 4, 0})).back(), 1.0);
    frequencies = {100, 5, 6};
    EXPECT_EQ(summary.Predict(nullptr, training.List({1, 2, 3, 4, 0})).back(), 2.0);
}

TEST(CatSummary, PredictAllKCountsOnlyTheFullListInTheConfusionMatrix) {
    const Training training({0, 1, 1});
    const std::vector<int> frequencies{5, 5};
    KNNCatPredictionSummary summary(0, 1, &frequencies, &training.rows);
    NeighborList list = training.All();
    const double actual = 0.0;
    const std::vector<double>& p = summary.PredictAllK(&actual, list);
    // Probabilities from all three, then k = 1 (0), k = 2 (a 1:1 tie at equal frequency: 0),
    // k = 3 (1).
    ASSERT_EQ(p.size(), 5u);
    EXPECT_DOUBLE_EQ(p[0], 2.0 / 5.0);
    EXPECT_DOUBLE_EQ(p[1], 3.0 / 5.0);
    EXPECT_EQ(std::vector<double>(p.begin() + 2, p.end()), (std::vector<double>{0, 0, 1}));
    EXPECT_EQ(list.count, 3);
    EXPECT_EQ(summary.ConfusionMatrix(), (std::vector<std::vector<int>>{{0, 1}, {0, 0}}));

    // Predict does not count; an unknown actual category is not counted either.
    summary.Predict(&actual, list);
    const double unknown = 7.0;
    summary.PredictAllK(&unknown, list);
    const double missing = -1.0;
    summary.PredictAllK(&missing, list);
    EXPECT_EQ(summary.ConfusionMatrix(), (std::vector<std::vector<int>>{{0, 1}, {0, 0}}));

    summary.ResetConfusionMatrix();
    EXPECT_EQ(summary.ConfusionMatrix(), (std::vector<std::vector<int>>{{0, 0}, {0, 0}}));
}

TEST(CatSummary, ErrorRateIsOneMinusCorrectOverTrainingCases) {
    const Training training(std::vector<double>(100, 0.0));
    const std::vector<int> frequencies{50, 50};
    KNNCatPredictionSummary summary(0, 1, &frequencies, &training.rows);
    const std::vector<double> predictedOne{0.4, 0.6, 1.0};
    double correct = 0.0;
    for (int i = 0; i < 100; ++i) {
        // 80 right; of the 20 wrong, some carry a category unknown to the training data.
        const double actual = i < 80 ? 1.0 : (i % 2 == 0 ? 0.0 : 5.0);
        ASSERT_TRUE(summary.AccumulateError(&actual, predictedOne, &correct).IsOK());
    }
    EXPECT_EQ(correct, 80.0);
    EXPECT_DOUBLE_EQ(summary.ErrorFromTotal(correct), 0.2);
}

TEST(ContSummary, MedianMatchesTheSortedDefinition) {
    std::mt19937 generator(7);
    std::uniform_int_distribution<int> value(0, 5);  // small range: many duplicates
    for (int n = 1; n <= 12; ++n) {
        std::vector<double> targets(static_cast<size_t>(n));
        for (double& target : targets) {
            target = value(generator);
        }
        const Training training(targets);
        KNNContPredictionSummary summary(0, 1, 1, &training.rows);
        const NeighborList list = training.All();
        const std::vector<double> allK = summary.PredictAllK(nullptr, list);
        ASSERT_EQ(allK.size(), static_cast<size_t>(n));
        for (int k = 1; k <= n; ++k) {
            std::vector<double> sorted(targets.begin(), targets.begin() + k);
            std::sort(sorted.begin(), sorted.end());
            const size_t h = static_cast<size_t>(k / 2);
            const double expected = k % 2 == 1 ? sorted[h] : (sorted[h - 1] + sorted[h]) * 0.5;
            EXPECT_EQ(allK[static_cast<size_t>(k - 1)], expected) << "n " << n << " k " << k;
            NeighborList firstK = list;
            firstK.count = k;
            EXPECT_EQ(summary.Predict(nullptr, firstK)[0], expected) << "n " << n << " k " << k;
        }
    }
}

TEST(ContSummary, MeanAndMedianOfEveryPrefix) {
    const Training training({4, 1, 3, 2});
    NeighborList list = training.All();
    KNNContPredictionSummary mean(0, 0, 1, &training.rows);
    const std::vector<double>& means = mean.PredictAllK(nullptr, list);
    ASSERT_EQ(means.size(), 4u);
    EXPECT_DOUBLE_EQ(means[0], 4.0);
    EXPECT_DOUBLE_EQ(means[1], 2.5);
    EXPECT_DOUBLE_EQ(means[2], 8.0 / 3.0);
    EXPECT_DOUBLE_EQ(means[3], 2.5);
    KNNContPredictionSummary median(0, 1, 1, &training.rows);
    EXPECT_EQ(median.PredictAllK(nullptr, list), (std::vector<double>{4, 2.5, 3, 2.5}));
    EXPECT_EQ(list.count, 4);

    // Predict gives the value for the whole list: median 3 of 5, 1, 3; mean 13 / 3 of 10, 1, 2.
    const Training odd({5, 1, 3});
    KNNContPredictionSummary oddMedian(0, 1, 1, &odd.rows);
    EXPECT_EQ(oddMedian.Predict(nullptr, odd.All()), std::vector<double>{3.0});
    const Training skewed({10, 1, 2});
    KNNContPredictionSummary skewedMean(0, 0, 1, &skewed.rows);
    EXPECT_DOUBLE_EQ(skewedMean.Predict(nullptr, skewed.All())[0], 13.0 / 3.0);
}

TEST(ContSummary, SquaredErrorsAddUpAndOverflowFails) {
    const Training training({0});
    KNNContPredictionSummary summary(0, 0, 1, &training.rows);
    double total = 0.0;
    const double actual = 1.0;
    ASSERT_TRUE(summary.AccumulateError(&actual, {0.0, 3.0}, &total).IsOK());
    ASSERT_TRUE(summary.AccumulateError(&actual, {-1.0}, &total).IsOK());
    EXPECT_EQ(total, 8.0);
    EXPECT_EQ(summary.ErrorFromTotal(total), 8.0);

    const double huge = -DBL_MAX / 2;
    const VelCommon_940::VelStatus status = summary.AccumulateError(&huge, {DBL_MAX / 2}, &total);
    EXPECT_EQ(status.GetErrorCode(), Code::ErrorOverflow);
    EXPECT_TRUE(status.IsError());
    EXPECT_EQ(total, 8.0);
}

TEST(CreateSummary, MakesTheSummaryOfTheTargetKind) {
    const Training training({0, 2, 1, 2});
    const std::vector<int> frequencies{1, 1, 2};
    std::unique_ptr<KNNPredictionSummary> categorical(
        CreateSummary(false, 0, 0, 6, &frequencies, &training.rows));
    auto* cat = dynamic_cast<KNNCatPredictionSummary*>(categorical.get());
    ASSERT_NE(cat, nullptr);
    EXPECT_EQ(cat->CategoryCount(), 3);
    EXPECT_EQ(cat->TrainingCaseCount(), 4);
    EXPECT_EQ(cat->ConfusionMatrix(), std::vector<std::vector<int>>(3, std::vector<int>(3, 0)));

    std::unique_ptr<KNNPredictionSummary> continuous(
        CreateSummary(true, 1, 0, 6, nullptr, &training.rows));
    auto* cont = dynamic_cast<KNNContPredictionSummary*>(continuous.get());
    ASSERT_NE(cont, nullptr);
    EXPECT_TRUE(cont->UsesMedian());
    EXPECT_EQ(cont->Predict(nullptr, training.All()), std::vector<double>{1.5});
}

}  // namespace
}  // namespace KNN_800
