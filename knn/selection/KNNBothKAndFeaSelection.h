// Joint choice of K and features: one complete forward selection per K of the range (the same
// K for every target in a run); each target takes the K whose final list has the lowest
// training error, with that list.
#pragma once

#include <vector>

#include "VelStatus.h"
#include "knn/model/KNNSingleResponseModel.h"
#include "knn/settings/KNNSettings.h"

namespace KNN_800 {

class KNNFeatureSelection;

class KNNBothKAndFeaSelection {
public:
    // `featureSelection` must have been made with a fixed K; it is not owned.
    KNNBothKAndFeaSelection(std::vector<KNNSingleResponseModel*>& models,
                            KNNFeatureSelection* featureSelection, const KNNSettings& settings);
    virtual ~KNNBothKAndFeaSelection() = default;

    VelCommon_940::VelStatus Run();
    // Entry nK * model + (K - MinK), with nK = MaxK - MinK + 1.
    const std::vector<std::vector<int>>& GetFeatureLists() const { return featureLists; }
    const std::vector<std::vector<double>>& GetErrorHistories() const { return errorHistories; }
    const std::vector<int>& GetBestK() const { return bestK; }

private:
    std::vector<KNNSingleResponseModel*>& models;
    KNNFeatureSelection* featureSelection;
    std::vector<std::vector<int>> featureLists;
    std::vector<std::vector<double>> errorHistories;
    std::vector<int> bestK;
    std::vector<std::vector<int>> bestFeatures;
    const KNNSettings& settings;
    int kMax;
    int kMin;
    VelCommon_940::VelStatus status;
};

}  // namespace KNN_800
