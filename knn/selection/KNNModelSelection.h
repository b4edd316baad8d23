// Runs the selection stages the settings ask for, in their fixed order, before the final trees
// are built: the joint K-and-feature selection, or K selection alone, or feature selection
// alone; then feature importance and weighting. Each stage writes its decision into the
// models; the stage objects are kept because the model document reports their histories.
#pragma once

#include <vector>

#include "VelStatus.h"
#include "knn/base/InterruptionProbe.h"
#include "knn/model/KNNSingleResponseModel.h"
#include "knn/settings/KNNSettings.h"

namespace KNN_800 {

class KNNAutoKSelection;
class KNNBothKAndFeaSelection;
class KNNFeatureImportance;
class KNNFeatureSelection;

class KNNModelSelection {
public:
    KNNModelSelection(KNNSettings* settings, InterruptionProbe* interrupt,
                      std::vector<KNNSingleResponseModel*>* models);
    virtual ~KNNModelSelection();
    KNNModelSelection(const KNNModelSelection&) = delete;
    KNNModelSelection& operator=(const KNNModelSelection&) = delete;
    virtual void Reserved() {}

    // Importances supplied by the host instead of computed ones (single target only).
    void SetModelValues(const std::vector<double>& values) { modelValues = values; }
    VelCommon_940::VelStatus Run();
    VelCommon_940::VelStatus GetStatus() const { return status; }

    const KNNAutoKSelection* GetKSelection() const { return kSelection; }
    const KNNFeatureSelection* GetFeatureSelection() const { return featureSelection; }
    const KNNBothKAndFeaSelection* GetKAndFeatureSelection() const { return kAndFeatureSelection; }

private:
    VelCommon_940::VelStatus RunImportance();

    std::vector<double> modelValues;
    KNNSettings* settings;
    InterruptionProbe* interrupt;
    KNNFeatureSelection* featureSelection = nullptr;          // owned
    KNNFeatureImportance* featureImportance = nullptr;        // owned
    KNNAutoKSelection* kSelection = nullptr;                  // owned
    KNNBothKAndFeaSelection* kAndFeatureSelection = nullptr;  // owned
    std::vector<KNNSingleResponseModel*>* models;
    VelCommon_940::VelStatus status;
};

}  // namespace KNN_800
