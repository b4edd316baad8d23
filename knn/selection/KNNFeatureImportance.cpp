#include "knn/selection/KNNFeatureImportance.h"

#include "knn/base/ParallelChunks.h"
#include "knn/base/StatusCodes.h"
#include "knn/predict/KNNPredictionFactory.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;

KNNFeatureImportance::KNNFeatureImportance(const KNNSettings& settings,
                                           std::vector<KNNSingleResponseModel*>& models,
                                           InterruptionProbe* interrupt)
    : settings(settings), models(models), errorLists(models.size()), interrupt(interrupt) {
    std::vector<KNNPredictionSummary*> summaries;
    for (KNNSingleResponseModel* model : models) {
        if (model->Summary() != nullptr) {
            summaries.push_back(model->Summary());
        }
    }
    if (summaries.empty()) {
        status = Error(Code::NoSummary);
        return;
    }
    factory = std::make_unique<KNNPredictionFactory>(summaries, interrupt, false);
    factory->SetThreads(ResolveThreadCount(settings.Threads));
}

KNNFeatureImportance::~KNNFeatureImportance() = default;

VelStatus KNNFeatureImportance::Compute() {
    if (!status.IsOK()) {
        return status;
    }
    VelStatus result;
    if (settings.IsFeaSelection) {
        // Every model has its own features and K: one pass per model.
        for (size_t i = 0; i < models.size() && result.IsOK(); ++i) {
            KNNSingleResponseModel& model = *models[i];
            if (factory->AllPresent()) {
                factory->SetSummaries({model.Summary()});
            }
            result = ImportanceForList(model, model.Features(), model.GetK(), {i});
        }
    } else {
        // All models share the predictor list: one pass yields every model's errors.
        std::vector<size_t> all;
        for (size_t i = 0; i < models.size(); ++i) {
            all.push_back(i);
        }
        KNNSingleResponseModel& first = *models.front();
        result = ImportanceForList(first, settings.Features, first.GetK(), all);
    }
    if (result.IsOK()) {
        for (size_t i = 0; i < models.size(); ++i) {
            models[i]->SetImportances(Normalise(errorLists[i]));
        }
    }
    return result;
}

VelStatus KNNFeatureImportance::ImportanceForList(KNNSingleResponseModel& model,
                                                  const std::vector<int>& list, int K,
                                                  const std::vector<size_t>& served) {
    k = K;
    if (list.size() == 1) {
        for (size_t i : served) {
            errorLists[i].assign(1, 0.0);
        }
        return VelStatus();
    }
    std::vector<double> errors;
    for (size_t left = 0; left < list.size(); ++left) {
        const VelStatus result = ErrorsWithout(model, list, left, errors);
        if (!result.IsOK()) {
            return result;
        }
        for (size_t s = 0; s < served.size(); ++s) {
            errorLists[served[s]].push_back(errors[s]);
        }
    }
    return VelStatus();
}

VelStatus KNNFeatureImportance::ErrorsWithout(KNNSingleResponseModel& model,
                                              const std::vector<int>& list, size_t left,
                                              std::vector<double>& errors) {
    std::vector<int> reduced = list;
    reduced.erase(reduced.begin() + static_cast<long>(left));
    VelStatus result = model.BuildTreeForFold(reduced, -1);
    if (result.IsOK()) {
        result = factory->ScoreCases(*model.Tree(), {model.Rows()}, k);
    }
    if (result.IsOK()) {
        errors = factory->GetCriteria();
    }
    return result;
}

std::vector<double> KNNFeatureImportance::Normalise(const std::vector<double>& errors) {
    std::vector<double> shares = errors;
    const double n = static_cast<double>(shares.size());
    double sum = 0.0;
    for (double& share : shares) {
        share += 1.0 / n;
        sum += share;
    }
    for (double& share : shares) {
        share /= sum;
    }
    return shares;
}

}  // namespace KNN_800
