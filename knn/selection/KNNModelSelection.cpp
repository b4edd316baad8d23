#include "knn/selection/KNNModelSelection.h"

#include "knn/base/StageReport.h"
#include "knn/selection/KNNAutoKSelection.h"
#include "knn/selection/KNNBothKAndFeaSelection.h"
#include "knn/selection/KNNFeatureImportance.h"
#include "knn/selection/KNNFeatureSelection.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;

KNNModelSelection::KNNModelSelection(const KNNSettings& settings, RunContext& context,
                                     std::vector<KNNSingleResponseModel*>& models)
    : settings(settings), context(context), models(models) {}

// The joint selection refers to the feature selection: it goes first.
KNNModelSelection::~KNNModelSelection() {
    kAndFeatureSelection.reset();
}

VelStatus KNNModelSelection::Run() {
    status = VelStatus();
    InterruptionProbe* interrupt = &context.probe;
    bool joint = false;

    if (settings.IsAutoKSelection && settings.IsFeaSelection) {
        joint = true;
        StartStage(context);
        if (featureSelection == nullptr) {
            featureSelection =
                std::make_unique<KNNFeatureSelection>(settings, models, interrupt, true);
        }
        kAndFeatureSelection =
            std::make_unique<KNNBothKAndFeaSelection>(models, featureSelection.get(), settings);
        status = kAndFeatureSelection->Run();
        EndStage(context, "kandFeatselection");
    } else if (settings.IsAutoKSelection) {
        StartStage(context);
        kSelection = std::make_unique<KNNAutoKSelection>(models, settings, interrupt);
        status = kSelection->Run();
        EndStage(context, "kselection");
    }

    // Feature selection alone needs a way to stop: a count or the automatic rule.
    if (status.IsOK() && !joint && settings.IsFeaSelection &&
        (settings.IsAutoFeaSelection || settings.SpecifiedFeaNum >= 0)) {
        StartStage(context);
        if (featureSelection == nullptr) {
            featureSelection =
                std::make_unique<KNNFeatureSelection>(settings, models, interrupt, false);
        }
        status = featureSelection->GetStatus();
        if (status.IsOK()) {
            status = featureSelection->Run(-1);
        }
        EndStage(context, "featSelection");
    }

    if (status.IsOK() && settings.IsFeaImportance) {
        StartStage(context);
        status = RunImportance();
        EndStage(context, "featImportance");
    }

    if (status.IsOK() && settings.IsFeaWeight) {
        StartStage(context);
        for (KNNSingleResponseModel* model : models) {
            model->SetWeights(model->Importances());
        }
        EndStage(context, "featWeight");
    }
    return status;
}

VelStatus KNNModelSelection::RunImportance() {
    featureImportance = std::make_unique<KNNFeatureImportance>(settings, models, &context.probe);
    if (modelValues.empty()) {
        return featureImportance->Compute();
    }
    // Host-supplied importances are taken as they are, and only for a single target.
    if (models.size() == 1) {
        models.front()->SetImportances(modelValues);
    }
    return VelStatus();
}

}  // namespace KNN_800
