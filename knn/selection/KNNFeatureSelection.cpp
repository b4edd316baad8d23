#include "knn/selection/KNNFeatureSelection.h"

#include <algorithm>

#include "knn/base/ParallelChunks.h"
#include "knn/base/StatusCodes.h"
#include "knn/predict/KNNPredictionFactory.h"
#include "knn/selection/KNNForwardStrategy.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;

KNNFeatureSelection::KNNFeatureSelection(const KNNSettings& settings,
                                         std::vector<KNNSingleResponseModel*>& models,
                                         InterruptionProbe* interrupt, bool fixedK)
    : settings(settings),
      models(models),
      interrupt(interrupt),
      candidates(settings.Features),
      autoStop(settings.IsAutoFeaSelection),
      selected(models.size()),
      histories(models.size()),
      fixedK(fixedK) {
    for (int forced : settings.ForcedVariables) {
        auto position = std::find(candidates.begin(), candidates.end(), forced);
        if (position == candidates.end()) {
            status = Error(Code::BadFeatureCount);
            status.SetMessage("a forced variable is not among the predictors");
            status.SetDiscreteDatum(0, forced);
            return;
        }
        candidates.erase(position);
    }
    if (models.empty() || models.front()->Summary() == nullptr) {
        status = Error(Code::NoSummary);
        return;
    }
    factory = std::make_unique<KNNPredictionFactory>(
        std::vector<KNNPredictionSummary*>{models.front()->Summary()}, interrupt, false);
    factory->SetThreads(ResolveThreadCount(settings.Threads));
    if (autoStop) {
        strategy = std::make_unique<KNNAutoFS>(settings, candidates, factory.get());
    } else {
        strategy = std::make_unique<KNNSpecificNumFS>(settings, candidates, factory.get());
    }
}

KNNFeatureSelection::~KNNFeatureSelection() = default;

VelStatus KNNFeatureSelection::Run(int K) {
    if (!status.IsOK()) {
        return status;
    }
    for (size_t i = 0; i < models.size(); ++i) {
        KNNSingleResponseModel& model = *models[i];
        if (factory->AllPresent()) {
            factory->SetSummaries({model.Summary()});
        }
        const VelStatus result = strategy->Select(model, fixedK ? K : model.GetK());
        if (!result.IsOK()) {
            strategy->Restart(candidates);
            return result;
        }
        selected[i] = strategy->Selected();
        histories[i] = strategy->History();
        model.SetFeatures(strategy->Selected());
        strategy->Restart(candidates);
    }
    return VelStatus();
}

}  // namespace KNN_800
