#include "knn/model/KNNSingleResponseModel.h"

#include "VelDisplay.h"
#include "knn/base/StatusCodes.h"
#include "knn/predict/CreateSummary.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;

KNNSingleResponseModel::KNNSingleResponseModel(KNNDataPreparation& preparation, int responseIndex,
                                               bool continuous)
    : preparation(preparation),
      tree(std::make_unique<KNNKdTree>(&preparation)),
      k(preparation.Settings().SpecifiedK),
      features(preparation.Settings().Features),
      weights(features.size(), 1.0),
      responseIndex(responseIndex),
      continuous(continuous) {
    const KNNSettings& settings = preparation.Settings();
    if (responseIndex >= 0) {
        const std::vector<int>* frequencies =
            continuous
                ? nullptr
                : preparation.Variables()[static_cast<size_t>(responseIndex)]->GetCategoryCounts();
        summary = CreateSummary(continuous, settings.UsesMedian() ? 1 : 0, responseIndex,
                                settings.TotalVarNum, frequencies, &preparation.Rows());
    }
    if (!settings.SpecifiedFeature.empty()) {
        features = settings.SpecifiedFeature;
        weights = settings.SpecifiedFeatureWeight;
    }
}

KNNSingleResponseModel::~KNNSingleResponseModel() = default;

VelStatus KNNSingleResponseModel::BuildTree() {
    tree->Clear();
    if (weights.size() != features.size()) {
        status = Error(Code::SpecifiedFeatureConflict);
        status.SetMessage("the model has " + std::to_string(weights.size()) + " weights for " +
                          std::to_string(features.size()) + " features");
        return status;
    }
    status = tree->Build(features, -1, &weights);
    return status;
}

VelStatus KNNSingleResponseModel::BuildTreeForFold(const std::vector<int>& list, int foldValue) {
    tree->Clear();
    status = tree->Build(list, foldValue, nullptr);
    return status;
}

void KNNSingleResponseModel::Display() const {
    using namespace VelDisplay_940;
    const long level = 1;
    DisplayText(level, "KNNSingleResponseModel display start");
    tree->Display();
    DisplayI("Number of K", k);
    DisplayDV("Weight of variables", weights);
    DisplayDV("Importance of variables", importances);
    DisplayB("indicator to the continuous response", continuous);
    DisplayI("response index", responseIndex);
    DisplayI("number of K", k);
    DisplayText(level, "KNNSingleResponseModel display end");
}

}  // namespace KNN_800
