// Forward feature selection over all target models: runs the chosen stopping strategy once per
// model, writes each model's final feature list, and keeps the lists and error histories for
// the model document.
#pragma once

#include <memory>
#include <vector>

#include "VelStatus.h"
#include "knn/base/InterruptionProbe.h"
#include "knn/model/KNNSingleResponseModel.h"
#include "knn/settings/KNNSettings.h"

namespace KNN_800 {

class KNNPredictionFactory;
class KNNSpecificNumFS;

class KNNFeatureSelection {
public:
    // With `fixedK` every model is selected with the K given to Run (joint selection);
    // otherwise each model uses its own K.
    KNNFeatureSelection(const KNNSettings& settings, std::vector<KNNSingleResponseModel*>& models,
                        InterruptionProbe* interrupt, bool fixedK);
    virtual ~KNNFeatureSelection();
    KNNFeatureSelection(const KNNFeatureSelection&) = delete;
    KNNFeatureSelection& operator=(const KNNFeatureSelection&) = delete;
    virtual void Reserved() {}

    VelCommon_940::VelStatus Run(int K);
    // Construction outcome: 200005 (a forced variable is not a predictor) or 200046 (no
    // prediction summary), else OK.
    VelCommon_940::VelStatus GetStatus() const { return status; }
    const std::vector<std::vector<int>>& GetSelectedFeatures() const { return selected; }
    const std::vector<std::vector<double>>& GetErrorHistories() const { return histories; }

private:
    const KNNSettings& settings;
    std::vector<KNNSingleResponseModel*>& models;
    InterruptionProbe* interrupt;
    std::unique_ptr<KNNPredictionFactory> factory;
    std::unique_ptr<KNNSpecificNumFS> strategy;  // uses the factory
    std::vector<int> candidates;
    bool autoStop;
    std::vector<std::vector<int>> selected;
    std::vector<std::vector<double>> histories;
    bool fixedK;
    VelCommon_940::VelStatus status;
};

}  // namespace KNN_800
