#include "knn/selection/KNNModelSelection.h"

#include "knn/base/StageReport.h"
#include "knn/selection/KNNAutoKSelection.h"
#include "knn/selection/KNNBothKAndFeaSelection.h"
#include "knn/selection/KNNFeatureImportance.h"
#include "knn/selection/KNNFeatureSelection.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;

KNNModelSelection::KNNModelSelection(KNNSettings* settings, InterruptionProbe* interrupt,
                                     std::vector<KNNSingleResponseModel*>* models)
    : settings(settings), interrupt(interrupt), models(models) {}

KNNModelSelection::~KNNModelSelection() {
    delete kAndFeatureSelection;
    delete featureSelection;
    delete featureImportance;
    delete kSelection;
}

VelStatus KNNModelSelection::Run() {
    status = VelStatus();
    KNNReporter* reporter = settings->Reporter();
    bool joint = false;

    if (settings->IsAutoKSelection && settings->IsFeaSelection) {
        joint = true;
        StartStage(reporter);
        if (featureSelection == nullptr) {
            featureSelection = new KNNFeatureSelection(settings, models, interrupt, true);
        }
        kAndFeatureSelection =
            new KNNBothKAndFeaSelection(models, featureSelection, settings, interrupt);
        status = kAndFeatureSelection->Run();
        EndStage(settings, "kandFeatselection");
    } else if (settings->IsAutoKSelection) {
        StartStage(reporter);
        kSelection = new KNNAutoKSelection(models, settings, interrupt);
        status = kSelection->Run();
        EndStage(settings, "kselection");
    }

    // Feature selection alone needs a way to stop: a count or the automatic rule.
    if (status.IsOK() && !joint && settings->IsFeaSelection &&
        (settings->IsAutoFeaSelection || settings->SpecifiedFeaNum >= 0)) {
        StartStage(reporter);
        if (featureSelection == nullptr) {
            featureSelection = new KNNFeatureSelection(settings, models, interrupt, false);
        }
        status = featureSelection->GetStatus();
        if (status.IsOK()) {
            status = featureSelection->Run(-1);
        }
        EndStage(settings, "featSelection");
    }

    if (status.IsOK() && settings->IsFeaImportance) {
        StartStage(reporter);
        status = RunImportance();
        EndStage(settings, "featImportance");
    }

    if (status.IsOK() && settings->IsFeaWeight) {
        StartStage(reporter);
        for (KNNSingleResponseModel* model : *models) {
            model->SetWeights(model->Importances());
        }
        EndStage(settings, "featWeight");
    }
    return status;
}

VelStatus KNNModelSelection::RunImportance() {
    featureImportance = new KNNFeatureImportance(settings, models, interrupt);
    if (modelValues.empty()) {
        return featureImportance->Compute();
    }
    // Host-supplied importances are taken as they are, and only for a single target.
    if (models->size() == 1) {
        models->front()->SetImportances(modelValues);
    }
    return VelStatus();
}

}  // namespace KNN_800
