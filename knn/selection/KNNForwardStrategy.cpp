#include "knn/selection/KNNForwardStrategy.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

#include "knn/base/StatusCodes.h"
#include "knn/predict/KNNPredictionFactory.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;

KNNSpecificNumFS::KNNSpecificNumFS(const KNNSettings& settings, std::vector<int> candidates,
                                   KNNPredictionFactory* factory)
    : settings(settings),
      candidates(std::move(candidates)),
      selected(settings.ForcedVariables),
      factory(factory),
      target(settings.SpecifiedFeaNum) {}

void KNNSpecificNumFS::Restart(const std::vector<int>& allCandidates) {
    candidates = allCandidates;
    selected = settings.ForcedVariables;
    history.clear();
    forcedScored = false;
}

VelStatus KNNSpecificNumFS::EvaluateFeatures(const std::vector<int>& list, int K,
                                             KNNSingleResponseModel& model, double& error,
                                             double mustBeat) {
    VelStatus status = model.BuildTreeForFold(list, -1);
    if (!status.IsOK()) {
        return status;
    }
    factory->SetGiveUpAt(mustBeat);
    status = factory->ScoreCases(*model.Tree(), {model.Rows()}, K);
    factory->SetGiveUpAt(std::numeric_limits<double>::infinity());
    if (status.IsOK() && factory->Abandoned()) {
        error = std::numeric_limits<double>::infinity();  // cannot beat the best candidate
    } else if (status.IsOK()) {
        error = factory->GetCriteria().front();
    } else if (status.GetErrorCode() == Code::ErrorOverflow) {
        status = Error(Code::FeatureSelectionOverflow);
    }
    return status;
}

int KNNSpecificNumFS::TakeBest(const std::vector<double>& errors) {
    double best = DBL_MAX;
    int index = -1;
    for (size_t i = 0; i < errors.size(); ++i) {
        if (best > errors[i]) {
            best = errors[i];
            index = static_cast<int>(i);
        }
    }
    if (index >= 0) {
        selected.back() = candidates[static_cast<size_t>(index)];
        history.push_back(best);
    }
    return index;
}

VelStatus KNNSpecificNumFS::ScoreCurrent(KNNSingleResponseModel& model, int K) {
    double error = 0.0;
    const VelStatus status = EvaluateFeatures(selected, K, model, error);
    if (status.IsOK()) {
        history.push_back(error);
    }
    return status;
}

VelStatus KNNSpecificNumFS::Select(KNNSingleResponseModel& model, int K) {
    VelStatus status;
    if (!settings.ForcedVariables.empty()) {
        forcedScored = true;
        status = ScoreCurrent(model, K);
    }
    if (status.IsOK() && !candidates.empty() && target != 0) {
        status = ForwardSteps(model, K);
    }
    return status;
}

VelStatus KNNSpecificNumFS::ForwardSteps(KNNSingleResponseModel& model, int K) {
    while (!candidates.empty()) {
        selected.push_back(candidates.front());  // the trial position
        const VelStatus status = AddBestCandidate(model, K);
        if (!status.IsOK() || !ContinueSelection()) {
            return status;
        }
    }
    return VelStatus();
}

VelStatus KNNSpecificNumFS::AddBestCandidate(KNNSingleResponseModel& model, int K) {
    std::vector<double> errors;
    errors.reserve(candidates.size());
    // Only a candidate strictly better than the best so far can be taken, so scoring the
    // others may stop as soon as they cannot get there.
    double best = std::numeric_limits<double>::infinity();
    for (int candidate : candidates) {
        selected.back() = candidate;
        double error = 0.0;
        const VelStatus status = EvaluateFeatures(selected, K, model, error, best);
        if (!status.IsOK()) {
            return status;
        }
        errors.push_back(error);
        best = std::min(best, error);
    }
    const int index = TakeBest(errors);
    if (index < 0) {
        VelStatus status = Error(Code::FeatureSelectionOverflow);
        status.SetMessage("no candidate feature gave a representable error");
        return status;
    }
    candidates.erase(candidates.begin() + index);
    return VelStatus();
}

bool KNNSpecificNumFS::ContinueSelection() {
    const int added = static_cast<int>(history.size()) - (forcedScored ? 1 : 0);
    return added < target;
}

VelStatus KNNAutoFS::Select(KNNSingleResponseModel& model, int K) {
    VelStatus status;
    selected = settings.ForcedVariables;
    if (selected.empty() && candidates.empty()) {
        return status;
    }
    if (selected.empty()) {
        // The first step picks the best single feature.
        selected.push_back(candidates.front());
        status = AddBestCandidate(model, K);
    } else {
        forcedScored = true;
        status = ScoreCurrent(model, K);
    }
    if (!status.IsOK()) {
        return status;
    }
    if (history.back() == 0.0 || candidates.empty()) {
        return status;  // nothing can improve on a perfect list
    }
    return ForwardSteps(model, K);
}

bool KNNAutoFS::ContinueSelection() {
    const size_t n = history.size();
    const double last = history[n - 1];
    const double previous = history[n - 2];
    auto undoLastStep = [this] {
        history.pop_back();
        selected.pop_back();
    };
    if (last == 0.0) {
        undoLastStep();
        return false;
    }
    const double relative = std::fabs(previous - last) / previous;
    if (relative <= settings.SpecifiedErrRange && previous >= last) {
        return false;  // improved, but too little to go on; the step stays
    }
    if (last > previous && relative > 2.0 * settings.SpecifiedErrRange) {
        undoLastStep();
        return false;
    }
    return true;
}

}  // namespace KNN_800
