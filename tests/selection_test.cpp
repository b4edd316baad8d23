// Model selection: K by cross-validation, forward feature selection, the joint choice, and
// feature importance, checked against direct computations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "ModelFixture.h"
#include "TestSources.h"
#include "knn/base/StatusCodes.h"
#include "knn/selection/KNNAutoKSelection.h"
#include "knn/selection/KNNBothKAndFeaSelection.h"
#include "knn/selection/KNNFeatureImportance.h"
#include "knn/selection/KNNFeatureSelection.h"
#include "knn/selection/KNNForwardStrategy.h"
#include "knn/selection/KNNModelSelection.h"

using KNN_800::test::CountdownChecker;
using KNN_800::test::VectorRecordSource;
using knn_test::FeatureSelection;
using knn_test::ModelFixture;
using knn_test::SettingsDocument;
using namespace knn_test;

namespace {

// 60 cases with random x1, x2 and folds of sizes 24, 24 and 12; cls and y depend on x1 and x2
// with noise. x3 is an exact rescaled copy of x2.
VectorRecordSource RandomCases(unsigned seed = 7) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    VectorRecordSource source;
    for (int i = 0; i < 60; ++i) {
        const double x1 = 10.0 * unit(random);
        const double x2 = -5.0 + 10.0 * unit(random);
        const double noise = unit(random);
        const double fold = i % 5 < 2 ? 0 : (i % 5 < 4 ? 1 : 2);
        const double cls = x1 + 2.0 * noise > 6.0 ? 1 : 0;
        const double y = 5.0 * x1 + x2 + 20.0 * noise;
        const double c = i % 3;
        // id, x1, x2, x3, c, y, cls, focal, fold, label
        source.Add({double(i + 1), x1, x2, (x2 + 5.0) / 10.0, c, y, cls, 1, fold, 0});
    }
    return source;
}

// Cross-validated errors per K computed directly: every case of a fold against every case of
// the other folds, nearest first.
std::vector<double> DirectCrossValidation(const KNN_800::KNNDataPreparation& preparation,
                                          int target, bool continuous, int kMin, int kMax) {
    const std::vector<double*>& rows = preparation.Rows();
    const std::vector<int>& frequencies = *preparation.Variables()[kCls]->GetCategoryCounts();
    std::vector<double> errors(static_cast<size_t>(kMax - kMin + 1), 0.0);
    const int folds = 3;
    for (int fold = 0; fold < folds; ++fold) {
        std::vector<double> accumulated(errors.size(), 0.0);
        int foldCases = 0;
        for (const double* query : rows) {
            if (query[kFold] != fold)
                continue;
            ++foldCases;
            std::vector<std::pair<double, const double*>> others;
            for (const double* row : rows) {
                if (row[kFold] == fold)
                    continue;
                const double d1 = query[kX1] - row[kX1];
                const double d2 = query[kX2] - row[kX2];
                others.push_back({d1 * d1 + d2 * d2, row});
            }
            std::sort(others.begin(), others.end());
            for (int k = kMin; k <= kMax; ++k) {
                double& a = accumulated[static_cast<size_t>(k - kMin)];
                if (continuous) {
                    double sum = 0.0;
                    for (int j = 0; j < k; ++j)
                        sum += others[j].second[target];
                    const double e = sum / k - query[target];
                    a += e * e;
                } else {
                    int votes[2] = {0, 0};
                    for (int j = 0; j < k; ++j)
                        ++votes[int(others[j].second[target])];
                    int predicted = votes[1] > votes[0] ? 1 : 0;
                    if (votes[1] == votes[0])
                        predicted = frequencies[1] > frequencies[0] ? 1 : 0;
                    a += predicted == int(query[target]) ? 1.0 : 0.0;
                }
            }
        }
        for (size_t j = 0; j < errors.size(); ++j) {
            errors[j] +=
                continuous ? accumulated[j] / folds : (1.0 - accumulated[j] / foldCases) / folds;
        }
    }
    return errors;
}

}  // namespace

TEST(KSelection, CrossValidatedErrorsEqualADirectComputation) {
    for (const bool continuous : {false, true}) {
        SCOPED_TRACE(continuous ? "continuous" : "categorical");
        ModelFixture fixture;
        VectorRecordSource source = RandomCases();
        const auto status = fixture.Build(AutoK(continuous ? "y" : "cls", 1, 6), source);
        ASSERT_TRUE(status.IsOK()) << status.GetErrorCode() << " " << status.GetMessage();
        const KNN_800::KNNAutoKSelection* selection = fixture.model->Selection()->GetKSelection();
        ASSERT_NE(selection, nullptr);
        const std::vector<double> expected =
            DirectCrossValidation(*fixture.preparation, continuous ? kY : kCls, continuous, 1, 6);
        const std::vector<double>& errors = selection->GetErrors()[0];
        ASSERT_EQ(errors.size(), expected.size());
        for (size_t j = 0; j < errors.size(); ++j) {
            EXPECT_NEAR(errors[j], expected[j], 1e-9 * (1.0 + expected[j])) << "K = " << j + 1;
        }
        // The chosen K has the smallest error, the smallest K among equals.
        const auto best = std::min_element(expected.begin(), expected.end());
        EXPECT_EQ(fixture.Model(0).GetK(), 1 + int(best - expected.begin()));
        EXPECT_EQ(selection->GetBestK(), std::vector<int>{fixture.Model(0).GetK()});
    }
}

TEST(KSelection, TwoTargetsChooseFromTheirOwnColumns) {
    ModelFixture fixture;
    VectorRecordSource source = RandomCases(11);
    SettingsDocument d = AutoK("cls", 1, 6);
    d.Target("y");
    ASSERT_TRUE(fixture.Build(d, source).IsOK());
    const auto* selection = fixture.model->Selection()->GetKSelection();
    ASSERT_EQ(selection->GetErrors().size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const std::vector<double>& e = selection->GetErrors()[i];
        EXPECT_EQ(fixture.Model(i).GetK(),
                  1 + int(std::min_element(e.begin(), e.end()) - e.begin()));
    }
    EXPECT_EQ(fixture.model->MaxK(), std::max(fixture.Model(0).GetK(), fixture.Model(1).GetK()));
}

namespace {

// Exposes the automatic stop rule to a given error history.
struct StopRule : KNN_800::KNNAutoFS {
    using KNN_800::KNNAutoFS::KNNAutoFS;
    bool After(std::vector<double> errors) {
        history = std::move(errors);
        selected.assign(history.size(), 0);
        return ContinueSelection();
    }
};

}  // namespace

TEST(FeatureSelection, AutomaticStopRule) {
    KNN_800::KNNSettings settings;
    settings.SpecifiedErrRange = 0.01;
    StopRule rule(settings, {}, nullptr);
    EXPECT_FALSE(rule.After({10, 8, 7.95}));  // improved by 0.625 %: keep it and stop
    EXPECT_EQ(rule.History().size(), 3u);
    EXPECT_TRUE(rule.After({10, 8, 8.1}));   // worse by 1.25 %: within twice the tolerance
    EXPECT_FALSE(rule.After({10, 8, 8.2}));  // worse by 2.5 %: undo the step
    EXPECT_EQ(rule.History(), (std::vector<double>{10, 8}));
    EXPECT_EQ(rule.Selected().size(), 2u);
    EXPECT_TRUE(rule.After({10, 8}));     // a real improvement goes on
    EXPECT_FALSE(rule.After({10, 0.0}));  // a perfect later step is undone
    EXPECT_EQ(rule.History(), std::vector<double>{10});
}

TEST(FeatureSelection, ForcedVariablesHistoryAndTies) {
    ModelFixture fixture;
    VectorRecordSource source = RandomCases();
    SettingsDocument d = FeatureSelection("cls");
    d.Array("ForcedVariables", "string", {"c"}).Param("NSpecifiedFeatures", "int", "2");
    ASSERT_TRUE(fixture.Build(d, source).IsOK());
    const auto* selection = fixture.model->Selection()->GetFeatureSelection();
    ASSERT_NE(selection, nullptr);
    const std::vector<int>& selected = selection->GetSelectedFeatures()[0];
    ASSERT_EQ(selected.size(), 3u);
    EXPECT_EQ(selected[0], kC);
    EXPECT_EQ(selection->GetErrorHistories()[0].size(), 3u);
    // x3 is an exact copy of x2 after rescaling: whenever the two tie, x2 comes first.
    EXPECT_EQ(std::count(selected.begin(), selected.end(), kX3), 0);
    EXPECT_EQ(fixture.Model(0).Features(), selected);
}

TEST(FeatureSelection, WithoutCountOrAutomaticStopAddsTheDefaultNumber) {
    ModelFixture fixture;
    VectorRecordSource source = RandomCases();
    SettingsDocument d;
    d.Roles().Target("y").Predictor("x1").Predictor("x2").Predictor("c").Param("IsFeatureSelection",
                                                                               "bool", "true");
    ASSERT_TRUE(fixture.Build(d, source).IsOK());
    // min(3 features, 20) - no forced variable: every feature is added, one per step.
    const auto* selection = fixture.model->Selection()->GetFeatureSelection();
    EXPECT_EQ(selection->GetSelectedFeatures()[0].size(), 3u);
    const std::vector<double>& history = selection->GetErrorHistories()[0];
    EXPECT_EQ(history.size(), 3u);
}

TEST(FeatureSelection, AutomaticSelectionEndsWithAStopRuleHistory) {
    ModelFixture fixture;
    VectorRecordSource source = RandomCases();
    SettingsDocument d = FeatureSelection("y");
    d.Param("IsAutoFeatureSelection", "bool", "true");
    ASSERT_TRUE(fixture.Build(d, source).IsOK());
    const auto* selection = fixture.model->Selection()->GetFeatureSelection();
    const std::vector<double>& history = selection->GetErrorHistories()[0];
    ASSERT_FALSE(history.empty());
    EXPECT_EQ(history.size(), selection->GetSelectedFeatures()[0].size());
    // y depends mostly on x1: it is picked first.
    EXPECT_EQ(selection->GetSelectedFeatures()[0][0], kX1);
}

TEST(JointSelection, EachTargetTakesTheKOfItsBestFinalList) {
    ModelFixture fixture;
    VectorRecordSource source = RandomCases(3);
    SettingsDocument d;
    d.Roles()
        .Target("cls")
        .Target("y")
        .Predictor("x1")
        .Predictor("x2")
        .Predictor("c")
        .Param("IsFeatureSelection", "bool", "true")
        .Param("NSpecifiedFeatures", "int", "2")
        .Param("IsAutoKSelection", "bool", "true")
        .Param("MinK", "int", "2")
        .Param("MaxK", "int", "5");
    ASSERT_TRUE(fixture.Build(d, source).IsOK());
    const KNN_800::KNNModelSelection& selection = *fixture.model->Selection();
    EXPECT_EQ(selection.GetKSelection(), nullptr);  // only the joint stage ran
    const auto* joint = selection.GetKAndFeatureSelection();
    ASSERT_NE(joint, nullptr);
    const size_t nK = 4;
    ASSERT_EQ(joint->GetFeatureLists().size(), 2 * nK);
    for (size_t i = 0; i < 2; ++i) {
        size_t best = 0;
        for (size_t j = 1; j < nK; ++j) {
            if (joint->GetErrorHistories()[nK * i + best].back() >
                joint->GetErrorHistories()[nK * i + j].back()) {
                best = j;
            }
        }
        EXPECT_EQ(fixture.Model(i).GetK(), 2 + int(best));
        EXPECT_EQ(fixture.Model(i).Features(), joint->GetFeatureLists()[nK * i + best]);
        EXPECT_EQ(joint->GetBestK()[i], 2 + int(best));
    }
}

TEST(FeatureImportance, Normalisation) {
    const std::vector<double> shares = KNN_800::KNNFeatureImportance::Normalise({0.3, 0.1});
    EXPECT_NEAR(shares[0], 0.8 / 1.4, 1e-15);
    EXPECT_NEAR(shares[1], 0.6 / 1.4, 1e-15);
    EXPECT_DOUBLE_EQ(KNN_800::KNNFeatureImportance::Normalise({0.0})[0], 1.0);
}

TEST(FeatureImportance, ComputedImportancesBecomeWeights) {
    ModelFixture fixture;
    VectorRecordSource source = RandomCases();
    SettingsDocument d;
    d.Roles().Target("y").Predictor("x1").Predictor("x2").Param("IsFeatureWeight", "bool", "true");
    ASSERT_TRUE(fixture.Build(d, source).IsOK());
    const std::vector<double>& importances = fixture.Model(0).Importances();
    ASSERT_EQ(importances.size(), 2u);
    EXPECT_NEAR(importances[0] + importances[1], 1.0, 1e-12);
    EXPECT_GT(importances[0], importances[1]);  // leaving x1 out hurts y far more
    EXPECT_EQ(fixture.Model(0).Weights(), importances);
}

TEST(FeatureImportance, HostValuesReplaceTheComputation) {
    ModelFixture fixture;
    VectorRecordSource source = RandomCases();
    SettingsDocument d;
    d.Roles().Target("cls").Predictor("x1").Predictor("x2").Param("IsFeatureWeight", "bool",
                                                                  "true");
    // The checker counts the questions: one per record read, none for scoring.
    CountdownChecker checker(1000000);
    fixture.context.probe.checker = &checker;
    ASSERT_TRUE(fixture.Build(d, source, {0.25, 0.75}).IsOK());
    EXPECT_EQ(fixture.Model(0).Importances(), (std::vector<double>{0.25, 0.75}));
    EXPECT_EQ(fixture.Model(0).Weights(), (std::vector<double>{0.25, 0.75}));
    EXPECT_EQ(checker.calls, 60);

    // One number above 0 per feature, or the build is refused.
    for (const std::vector<double>& bad : std::vector<std::vector<double>>{
             {0.25}, {0.25, 0.75, 1.0}, {0.25, 0.0}, {-1.0, 1.0}, {1.0, NAN}}) {
        ModelFixture refused;
        VectorRecordSource again = RandomCases();
        EXPECT_EQ(refused.Build(d, again, bad).GetErrorCode(), KNN_800::Code::BadModelValues);
    }
}

TEST(Selection, InterruptionInTheMiddleStopsTheBuild) {
    ModelFixture fixture;
    VectorRecordSource source = RandomCases();
    CountdownChecker checker(60 + 25);  // the records, then part of the first fold
    fixture.context.probe.checker = &checker;
    const auto status = fixture.Build(AutoK("cls", 1, 6), source);
    EXPECT_EQ(status.GetErrorCode(), 1);
    EXPECT_EQ(fixture.model->Selection()->GetKSelection()->GetBestK().size(), 0u);
}
