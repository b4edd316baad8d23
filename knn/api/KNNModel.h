// The model driver: one single-response model per target (categorical targets first), model
// selection when there is a target, the final kd-trees, and the scoring of single records.
#pragma once

#include <memory>
#include <vector>

#include "Record.h"
#include "VelStatus.h"
#include "knn/base/RunContext.h"
#include "knn/data/KNNDataPreparation.h"
#include "knn/model/KNNSingleResponseModel.h"
#include "knn/search/NeighborList.h"
#include "knn/selection/KNNModelSelection.h"
#include "knn/settings/KNNSettings.h"

namespace KNN_800 {

class KNNModel {
public:
    // Over the prepared data of one build, with the settings of that build; neither the
    // preparation nor the run context is owned.
    KNNModel(KNNDataPreparation& preparation, RunContext& context);
    virtual ~KNNModel();
    KNNModel(const KNNModel&) = delete;
    KNNModel& operator=(const KNNModel&) = delete;

    // Values the host supplied as feature importances (used by model selection).
    void SetModelValues(const std::vector<double>& values) { modelValues = values; }
    VelCommon_940::VelStatus Build();
    // Codes `record`, searches and predicts. On success `result` holds one vector per target
    // (one vector when there is no target): the neighbours' case identifiers, their
    // distances, the predictions for k = 1 ... K, and the neighbours' case labels. K is the
    // searched K: with a shared tree the largest K of all targets, unless `perTargetK` asks for
    // each target's own K (the first K entries of the shared search, voted anew).
    VelCommon_940::VelStatus ScoreRecord(const VelCommon_940::Record& record,
                                         std::vector<std::vector<double>>& result,
                                         bool perTargetK = false);

    virtual VelCommon_940::VelStatus GetStatus() const { return status; }
    virtual void Display() const;

    // The models in the component's order (categorical targets first); owned by the driver.
    const std::vector<KNNSingleResponseModel*>& Models() const { return models; }
    const KNNModelSelection* Selection() const { return selection.get(); }
    KNNDataPreparation& Preparation() const { return preparation; }
    int TargetCount() const { return targetCount; }
    int MaxK() const { return maxK; }
    bool SharedTree() const { return sharedTree; }
    bool IsBuilt() const { return built; }

private:
    void CreateModels();
    void AddModel(int target, bool continuous);
    VelCommon_940::VelStatus BuildTrees();
    void AppendResult(const NeighborList& list, const std::vector<double>* predictions,
                      std::vector<double>& out) const;

    const KNNSettings& settings;
    KNNDataPreparation& preparation;
    RunContext& context;
    std::vector<double> modelValues;
    std::vector<std::unique_ptr<KNNSingleResponseModel>> owned;
    std::vector<KNNSingleResponseModel*> models;  // the owned models, as the stages see them
    std::unique_ptr<KNNModelSelection> selection;
    int targetCount = 0;
    int maxK = 0;
    bool built = false;
    bool selectModel = false;
    bool sharedTree = true;
    int inputFieldCount = 0;
    int caseIdColumn = -1;
    int caseLabelColumn = -1;
    VelCommon_940::VelStatus status;
    std::vector<double> scoreRow;  // reused between ScoreRecord calls
};

}  // namespace KNN_800
