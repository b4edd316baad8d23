#include "knn/selection/KNNBothKAndFeaSelection.h"

#include "knn/base/StatusCodes.h"
#include "knn/selection/KNNFeatureSelection.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;

KNNBothKAndFeaSelection::KNNBothKAndFeaSelection(std::vector<KNNSingleResponseModel*>& models,
                                                 KNNFeatureSelection* featureSelection,
                                                 const KNNSettings& settings)
    : models(models),
      featureSelection(featureSelection),
      bestK(models.size(), 0),
      bestFeatures(models.size()),
      settings(settings),
      kMax(settings.MaxK),
      kMin(settings.MinK) {}

VelStatus KNNBothKAndFeaSelection::Run() {
    const size_t modelCount = models.size();
    const size_t nK = static_cast<size_t>(kMax - kMin + 1);
    std::vector<double> errors(modelCount * nK, 0.0);
    featureLists.assign(modelCount * nK, {});
    errorHistories.assign(modelCount * nK, {});

    status = VelStatus();
    for (size_t j = 0; j < nK; ++j) {
        status = featureSelection->GetStatus();
        if (status.IsOK()) {
            status = featureSelection->Run(kMin + static_cast<int>(j));
        }
        if (status.GetErrorCode() == Code::FeatureSelectionOverflow) {
            status = Error(Code::JointSelectionOverflow);
        }
        if (!status.IsOK()) {
            return status;
        }
        for (size_t i = 0; i < modelCount; ++i) {
            const size_t at = nK * i + j;
            featureLists[at] = featureSelection->GetSelectedFeatures()[i];
            errorHistories[at] = featureSelection->GetErrorHistories()[i];
            // The error of the final list of this K (a guard for an empty history).
            errors[at] = errorHistories[at].empty() ? 0.0 : errorHistories[at].back();
        }
    }
    for (size_t i = 0; i < modelCount; ++i) {
        double best = errors[nK * i];
        bestFeatures[i] = featureLists[nK * i];
        bestK[i] = kMin;
        for (size_t j = 1; j < nK; ++j) {
            if (best > errors[nK * i + j]) {  // ties stay with the smaller K
                best = errors[nK * i + j];
                bestFeatures[i] = featureLists[nK * i + j];
                bestK[i] = kMin + static_cast<int>(j);
            }
        }
    }
    for (size_t i = 0; i < modelCount; ++i) {
        models[i]->SetK(bestK[i]);
        models[i]->SetFeatures(bestFeatures[i]);
    }
    return status;
}

}  // namespace KNN_800
