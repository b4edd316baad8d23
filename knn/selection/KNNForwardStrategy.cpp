#include "knn/selection/KNNForwardStrategy.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <limits>

#include "knn/base/ParallelChunks.h"
#include "knn/base/StatusCodes.h"
#include "knn/predict/KNNPredictionFactory.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;

// What one thread that scores candidates keeps: a tree over the model's data, a copy of the
// model's summary and a factory over it. The calling thread's factory asks the host's checker;
// the others follow its stop flag.
struct KNNSpecificNumFS::CandidateLane {
    const KNNSingleResponseModel* model = nullptr;  // the tree's data are this model's
    std::unique_ptr<KNNKdTree> tree;
    std::unique_ptr<KNNPredictionSummary> summary;
    std::unique_ptr<KNNPredictionFactory> scorer;
    InterruptionProbe follower;
    std::vector<int> list;
    std::vector<double> weights;
};

KNNSpecificNumFS::~KNNSpecificNumFS() = default;

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
    if (factory->Threads() > 1 && candidates.size() > 1) {
        const VelStatus scored = ScoreCandidatesInParallel(model, K, errors);
        if (!scored.IsOK()) {
            return scored;
        }
        return TakeBestCandidate(errors);
    }
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
    return TakeBestCandidate(errors);
}

VelStatus KNNSpecificNumFS::TakeBestCandidate(const std::vector<double>& errors) {
    const int index = TakeBest(errors);
    if (index < 0) {
        VelStatus status = Error(Code::FeatureSelectionOverflow);
        status.SetMessage("no candidate feature gave a representable error");
        return status;
    }
    candidates.erase(candidates.begin() + index);
    return VelStatus();
}

// Every candidate is scored as EvaluateFeatures scores it, by whichever thread takes it, on that
// thread's own tree (built with the model tree's column weights, as BuildTreeForFold builds).
// A candidate may give up once it cannot beat the best error finished so far by any thread:
// such a candidate's error is above another's, so it is not the lowest, and the lowest (the
// earliest of equal ones) is always scored to the end. TakeBest then chooses as after the
// candidates one by one, and records the same error.
VelStatus KNNSpecificNumFS::ScoreCandidatesInParallel(KNNSingleResponseModel& model, int K,
                                                      std::vector<double>& errors) {
    const size_t count = candidates.size();
    InterruptionProbe* probe = factory->Probe();
    const int laneCount = LanesFor(factory->Threads(), count);
    while (lanes.size() < static_cast<size_t>(laneCount)) {
        lanes.push_back(std::make_unique<CandidateLane>());
    }
    for (int l = 0; l < laneCount; ++l) {
        CandidateLane& lane = *lanes[static_cast<size_t>(l)];
        if (lane.model != &model || lane.tree == nullptr) {
            lane.tree = model.MakeTree();
            lane.model = &model;
        }
        lane.summary = model.Summary()->Clone();
        lane.follower.leader = probe;
        lane.scorer = std::make_unique<KNNPredictionFactory>(
            std::vector<KNNPredictionSummary*>{lane.summary.get()}, l == 0 ? probe : &lane.follower,
            false);
    }
    const std::vector<double>& columnWeights = model.Tree()->Weights();
    const double infinity = std::numeric_limits<double>::infinity();
    errors.assign(count, infinity);
    std::vector<VelStatus> statuses(count);
    std::atomic<double> best{infinity};

    const bool complete = RunChunks(factory->Threads(), count, probe, [&](int l, size_t c) {
        CandidateLane& lane = *lanes[static_cast<size_t>(l)];
        lane.list = selected;
        lane.list.back() = candidates[c];
        lane.weights.clear();
        for (int column : lane.list) {
            lane.weights.push_back(columnWeights[static_cast<size_t>(column)]);
        }
        lane.tree->Clear();
        VelStatus status = lane.tree->Build(lane.list, -1, &lane.weights);
        if (status.IsOK()) {
            lane.scorer->SetGiveUpAt(best.load());
            status = lane.scorer->ScoreCases(*lane.tree, {model.Rows()}, K);
            lane.scorer->SetGiveUpAt(infinity);
        }
        if (status.IsOK() && !lane.scorer->Abandoned()) {
            errors[c] = lane.scorer->GetCriteria().front();
            double seen = best.load();
            while (errors[c] < seen && !best.compare_exchange_weak(seen, errors[c])) {
            }
        } else if (status.GetErrorCode() == Code::ErrorOverflow) {
            status = Error(Code::FeatureSelectionOverflow);
        }
        statuses[c] = status;
    });
    if (!complete || (probe != nullptr && probe->stop.load())) {
        return Error(Code::Interrupted);
    }
    for (const VelStatus& status : statuses) {
        if (!status.IsOK()) {
            return status;  // the first failure in candidate order, as one by one
        }
    }
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
