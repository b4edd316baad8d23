#include "knn/selection/KNNAutoKSelection.h"

#include <algorithm>
#include <span>
#include <vector>

#include "knn/base/ParallelChunks.h"
#include "knn/base/StatusCodes.h"
#include "knn/predict/KNNPredictionFactory.h"
#include "knn/predict/KNNPredictionSummary.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;

KNNAutoKSelection::KNNAutoKSelection(std::vector<KNNSingleResponseModel*>& models,
                                     const KNNSettings& settings, InterruptionProbe* interrupt)
    : models(models),
      errors(models.size(),
             std::vector<double>(static_cast<size_t>(settings.MaxK - settings.MinK + 1), 0.0)),
      settings(settings),
      interrupt(interrupt),
      kMax(settings.MaxK),
      kMin(settings.MinK) {}

KNNAutoKSelection::~KNNAutoKSelection() = default;

VelStatus KNNAutoKSelection::Run() {
    VelStatus status;
    std::vector<KNNPredictionSummary*> summaries;
    for (KNNSingleResponseModel* model : models) {
        summaries.push_back(model->Summary());
    }
    factory = std::make_unique<KNNKSelePredictionFactory>(summaries, kMin, kMax, interrupt);
    factory->SetThreads(ResolveThreadCount(settings.Threads));

    KNNSingleResponseModel& first = *models.front();
    const int folds = settings.VFoldValue;
    const std::vector<int>* foldCounts =
        first.Preparation()
            .Variables()[static_cast<size_t>(settings.VFoldVariable)]
            ->GetCategoryCounts();
    const int range = kMax - kMin;
    // With categorical targets only, a fold's errors are counts of correct votes, the same in
    // any order: its cases are then searched in the order of a tree over all cases, where
    // cases near each other in space follow each other, so that consecutive searches walk the
    // same part of the fold's tree.
    std::vector<int> order;
    if (std::none_of(models.begin(), models.end(),
                     [](const KNNSingleResponseModel* m) { return m->IsContinuous(); })) {
        status = first.BuildTreeForFold(settings.Features, -1);
        if (status.IsOK()) {
            const std::span<const int> all = first.Tree()->CaseIndices();
            order.assign(all.begin(), all.end());
        }
    }
    for (int fold = 0; fold < folds && status.IsOK(); ++fold) {
        // K selection alone never changes the feature lists, so the first model's tree over
        // all predictors serves every target.
        status = first.BuildTreeForFold(settings.Features, fold);
        if (status.IsOK()) {
            status = factory->ScoreCases(
                *first.Tree(),
                {first.Rows(), settings.VFoldVariable, static_cast<uint32_t>(fold), order}, kMax);
        }
        if (!status.IsOK()) {
            if (status.GetErrorCode() == Code::ErrorOverflow) {
                status = Error(Code::KSelectionOverflow);
            }
            break;
        }
        const double foldCases = (*foldCounts)[static_cast<size_t>(fold)];
        for (size_t i = 0; i < models.size(); ++i) {
            const std::vector<double>& accumulated = factory->ErrorsByK()[i];
            for (int j = 0; j <= range; ++j) {
                const double a = accumulated[static_cast<size_t>(j)];
                // Every fold weighs the same: its sum of squares, or its misclassified fraction.
                errors[i][static_cast<size_t>(j)] +=
                    models[i]->IsContinuous() ? a / folds : (1.0 - a / foldCases) / folds;
            }
        }
    }
    if (!status.IsOK()) {
        return status;
    }
    bestK.clear();
    for (size_t i = 0; i < models.size(); ++i) {
        int best = 0;
        for (int j = 1; j <= range; ++j) {
            if (errors[i][static_cast<size_t>(best)] > errors[i][static_cast<size_t>(j)]) {
                best = j;  // only a strictly smaller error moves the choice to a larger K
            }
        }
        bestK.push_back(kMin + best);
    }
    for (size_t i = 0; i < models.size(); ++i) {
        models[i]->SetK(bestK[i]);
    }
    return status;
}

}  // namespace KNN_800
