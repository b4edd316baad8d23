// The model of one target (or, with a negative response index, a neighbour-only model): its
// kd-tree over the prepared data, its prediction summary, and what model selection decided for
// it — K, the feature list, the feature weights and importances.
#pragma once

#include <memory>
#include <vector>

#include "VelStatus.h"
#include "knn/data/KNNDataPreparation.h"
#include "knn/predict/KNNPredictionSummary.h"
#include "knn/search/kdtree/KNNKdTree.h"

namespace KNN_800 {

class KNNSingleResponseModel {
public:
    // Over the data of `preparation` (not owned), with the settings of its build.
    KNNSingleResponseModel(KNNDataPreparation& preparation, int responseIndex, bool continuous);
    virtual ~KNNSingleResponseModel();
    KNNSingleResponseModel(const KNNSingleResponseModel&) = delete;
    KNNSingleResponseModel& operator=(const KNNSingleResponseModel&) = delete;

    virtual VelCommon_940::VelStatus GetStatus() const { return status; }

    // Rebuilds the tree over the model's features with its weights and every case.
    VelCommon_940::VelStatus BuildTree();
    // Rebuilds the tree over `features`, leaving out the cases of fold `foldValue` (-1: none),
    // keeping the per-column weights the tree already holds.
    VelCommon_940::VelStatus BuildTreeForFold(const std::vector<int>& features, int foldValue);

    KNNKdTree* Tree() const { return tree.get(); }
    // Another tree over the same data, for a thread that builds trees of its own.
    std::unique_ptr<KNNKdTree> MakeTree() const {
        return std::make_unique<KNNKdTree>(&preparation);
    }
    KNNPredictionSummary* Summary() const { return summary.get(); }
    const KNNDataPreparation& Preparation() const { return preparation; }
    const std::vector<double*>& Rows() const { return preparation.Rows(); }
    int GetK() const { return k; }
    void SetK(int value) { k = value; }
    const std::vector<int>& Features() const { return features; }
    // A new feature list starts unweighted unless it keeps the length of the weights.
    void SetFeatures(std::vector<int> list) {
        features = std::move(list);
        if (weights.size() != features.size()) {
            weights.assign(features.size(), 1.0);
        }
    }
    const std::vector<double>& Weights() const { return weights; }
    void SetWeights(std::vector<double> list) { weights = std::move(list); }
    const std::vector<double>& Importances() const { return importances; }
    void SetImportances(std::vector<double> list) { importances = std::move(list); }
    int ResponseIndex() const { return responseIndex; }
    bool IsContinuous() const { return continuous; }

    void Display() const;

private:
    KNNDataPreparation& preparation;
    std::unique_ptr<KNNKdTree> tree;
    std::unique_ptr<KNNPredictionSummary> summary;  // null without a target
    int k = 0;
    std::vector<int> features;
    std::vector<double> weights;
    std::vector<double> importances;
    int responseIndex;
    bool continuous;
    VelCommon_940::VelStatus status;
};

}  // namespace KNN_800
