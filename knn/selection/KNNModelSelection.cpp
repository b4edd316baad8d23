#include "knn/selection/KNNModelSelection.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "knn/base/StageReport.h"
#include "knn/base/StatusCodes.h"
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
    // Host-supplied importances serve a single target: one number above 0 per feature of its
    // list, in that order (weights are made from them, so a zero or a negative one would
    // leave a feature out or turn distances around).
    if (models.size() != 1) {
        return VelStatus();
    }
    KNNSingleResponseModel& model = *models.front();
    const size_t features = model.Features().size();
    const bool usable = modelValues.size() == features &&
                        std::all_of(modelValues.begin(), modelValues.end(), [](double value) {
                            return std::isfinite(value) && value > 0.0;
                        });
    if (!usable) {
        VelStatus refused = Error(Code::BadModelValues);
        refused.SetMessage("the host gave " + std::to_string(modelValues.size()) +
                           " importances for " + std::to_string(features) +
                           " features; each must be a number above 0");
        return refused;
    }
    model.SetImportances(modelValues);
    return VelStatus();
}

}  // namespace KNN_800
