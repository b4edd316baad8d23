// Automatic choice of K per target by V-fold cross-validation over the fold field: per fold,
// one tree over the other folds and one search per case of the fold with K = MaxK, from which
// the predictions of every K of the range follow.
#pragma once

#include <memory>
#include <vector>

#include "VelStatus.h"
#include "knn/base/InterruptionProbe.h"
#include "knn/model/KNNSingleResponseModel.h"
#include "knn/settings/KNNSettings.h"

namespace KNN_800 {

class KNNKSelePredictionFactory;

class KNNAutoKSelection {
public:
    KNNAutoKSelection(std::vector<KNNSingleResponseModel*>& models, const KNNSettings& settings,
                      InterruptionProbe* interrupt);
    virtual ~KNNAutoKSelection();
    KNNAutoKSelection(const KNNAutoKSelection&) = delete;
    KNNAutoKSelection& operator=(const KNNAutoKSelection&) = delete;

    VelCommon_940::VelStatus Run();
    // errors[i][j]: the cross-validated error of model i with K = MinK + j.
    const std::vector<std::vector<double>>& GetErrors() const { return errors; }
    const std::vector<int>& GetBestK() const { return bestK; }

private:
    std::vector<KNNSingleResponseModel*>& models;
    std::unique_ptr<KNNKSelePredictionFactory> factory;
    std::vector<std::vector<double>> errors;
    std::vector<int> bestK;
    const KNNSettings& settings;
    InterruptionProbe* interrupt;
    int kMax;
    int kMin;
};

}  // namespace KNN_800
