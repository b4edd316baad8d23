// Runs the selection stages the settings ask for, in their fixed order, before the final trees
// are built: the joint K-and-feature selection, or K selection alone, or feature selection
// alone; then feature importance and weighting. Each stage writes its decision into the
// models; the stage objects are kept because the model document reports their histories.
#pragma once

#include <memory>
#include <vector>

#include "VelStatus.h"
#include "knn/base/RunContext.h"
#include "knn/model/KNNSingleResponseModel.h"
#include "knn/settings/KNNSettings.h"

namespace KNN_800 {

class KNNAutoKSelection;
class KNNBothKAndFeaSelection;
class KNNFeatureImportance;
class KNNFeatureSelection;

class KNNModelSelection {
public:
    // None of the arguments is owned; all must outlive the selection.
    KNNModelSelection(const KNNSettings& settings, RunContext& context,
                      std::vector<KNNSingleResponseModel*>& models);
    virtual ~KNNModelSelection();
    KNNModelSelection(const KNNModelSelection&) = delete;
    KNNModelSelection& operator=(const KNNModelSelection&) = delete;
    virtual void Reserved() {}

    // Importances supplied by the host instead of computed ones (single target only).
    void SetModelValues(const std::vector<double>& values) { modelValues = values; }
    VelCommon_940::VelStatus Run();
    VelCommon_940::VelStatus GetStatus() const { return status; }

    const KNNAutoKSelection* GetKSelection() const { return kSelection.get(); }
    const KNNFeatureSelection* GetFeatureSelection() const { return featureSelection.get(); }
    const KNNBothKAndFeaSelection* GetKAndFeatureSelection() const {
        return kAndFeatureSelection.get();
    }

private:
    VelCommon_940::VelStatus RunImportance();

    std::vector<double> modelValues;
    const KNNSettings& settings;
    RunContext& context;
    std::unique_ptr<KNNFeatureSelection> featureSelection;
    std::unique_ptr<KNNFeatureImportance> featureImportance;
    std::unique_ptr<KNNAutoKSelection> kSelection;
    std::unique_ptr<KNNBothKAndFeaSelection> kAndFeatureSelection;
    std::vector<KNNSingleResponseModel*>& models;
    VelCommon_940::VelStatus status;
};

}  // namespace KNN_800
