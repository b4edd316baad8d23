// Feature importance: per target model, the training error with each feature left out, turned
// into shares that sum to 1 (a feature whose removal hurts more gets a larger share).
#pragma once

#include <memory>
#include <vector>

#include "VelStatus.h"
#include "knn/base/InterruptionProbe.h"
#include "knn/model/KNNSingleResponseModel.h"
#include "knn/settings/KNNSettings.h"

namespace KNN_800 {

class KNNPredictionFactory;

class KNNFeatureImportance {
public:
    KNNFeatureImportance(const KNNSettings& settings, std::vector<KNNSingleResponseModel*>& models,
                         InterruptionProbe* interrupt);
    virtual ~KNNFeatureImportance();
    KNNFeatureImportance(const KNNFeatureImportance&) = delete;
    KNNFeatureImportance& operator=(const KNNFeatureImportance&) = delete;
    virtual void Reserved() {}

    // Computes and normalises the importances and stores them in the models.
    VelCommon_940::VelStatus Compute();
    // Construction outcome: 200046 when no model has a prediction summary.
    VelCommon_940::VelStatus GetStatus() const { return status; }

    // importance_j = (e_j + 1/n) / (e_1 + ... + e_n + 1) for left-out errors e.
    static std::vector<double> Normalise(const std::vector<double>& errors);

private:
    // One pass over `list`: the error of every served model with each feature left out.
    VelCommon_940::VelStatus ImportanceForList(KNNSingleResponseModel& model,
                                               const std::vector<int>& list, int K,
                                               const std::vector<size_t>& served);
    VelCommon_940::VelStatus ErrorsWithout(KNNSingleResponseModel& model,
                                           const std::vector<int>& list, size_t left,
                                           std::vector<double>& errors);

    const KNNSettings& settings;
    std::vector<KNNSingleResponseModel*>& models;
    std::unique_ptr<KNNPredictionFactory> factory;
    int k = 0;
    std::vector<std::vector<double>> errorLists;
    InterruptionProbe* interrupt;
    VelCommon_940::VelStatus status;
};

}  // namespace KNN_800
