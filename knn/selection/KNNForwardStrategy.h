// Forward selection for one model: starting from the forced variables, add the candidate whose
// list scores the lowest training error, step by step. KNNSpecificNumFS stops after a fixed
// number of added features, KNNAutoFS when the error stops improving by more than a relative
// tolerance (and undoes a step that made it clearly worse).
#pragma once

#include <limits>
#include <memory>
#include <vector>

#include "VelStatus.h"
#include "knn/model/KNNSingleResponseModel.h"
#include "knn/settings/KNNSettings.h"

namespace KNN_800 {

class KNNPredictionFactory;

class KNNSpecificNumFS {
public:
    KNNSpecificNumFS(const KNNSettings& settings, std::vector<int> candidates,
                     KNNPredictionFactory* factory);
    virtual ~KNNSpecificNumFS();

    virtual VelCommon_940::VelStatus Select(KNNSingleResponseModel& model, int K);
    virtual VelCommon_940::VelStatus ForwardSteps(KNNSingleResponseModel& model, int K);
    // Scores the current list as it stands and records its error.
    virtual VelCommon_940::VelStatus ScoreCurrent(KNNSingleResponseModel& model, int K);
    virtual void Reserved() {}
    // Asked after every accepted step: whether to add another feature.
    virtual bool ContinueSelection();

    // Prepares the strategy for the next model.
    void Restart(const std::vector<int>& allCandidates);

    const std::vector<int>& Selected() const { return selected; }
    const std::vector<double>& History() const { return history; }

protected:
    // Builds the model's tree over `list` (all cases, no weights) and scores every case from
    // its K nearest other cases; `error` receives the model's error criterion, or +infinity
    // as soon as it is clear that it cannot come out below `mustBeat`.
    VelCommon_940::VelStatus EvaluateFeatures(
        const std::vector<int>& list, int K, KNNSingleResponseModel& model, double& error,
        double mustBeat = std::numeric_limits<double>::infinity());
    // Tries every candidate in the last position of `selected`, keeps the best there and
    // removes it from the candidates.
    VelCommon_940::VelStatus AddBestCandidate(KNNSingleResponseModel& model, int K);
    // Puts the candidate with the lowest error (the earliest on ties) in the last position of
    // `selected` and records its error; -1 when no error is below the largest double.
    int TakeBest(const std::vector<double>& errors);
    // TakeBest, then the candidate leaves the candidates; 200060 when none could be taken.
    VelCommon_940::VelStatus TakeBestCandidate(const std::vector<double>& errors);
    // AddBestCandidate's scoring of every candidate, on several threads that each build and
    // search trees of their own (ParallelCandidates.cpp); the same errors wherever they matter.
    VelCommon_940::VelStatus ScoreCandidatesInParallel(KNNSingleResponseModel& model, int K,
                                                       std::vector<double>& errors);

    const KNNSettings& settings;
    std::vector<int> candidates;
    std::vector<int> selected;
    std::vector<double> history;
    KNNPredictionFactory* factory;  // not owned
    int target;
    bool forcedScored = false;
    struct CandidateLane;
    std::vector<std::unique_ptr<CandidateLane>> lanes;  // per thread, kept from step to step
};

class KNNAutoFS : public KNNSpecificNumFS {
public:
    using KNNSpecificNumFS::KNNSpecificNumFS;
    ~KNNAutoFS() override = default;

    VelCommon_940::VelStatus Select(KNNSingleResponseModel& model, int K) override;
    bool ContinueSelection() override;
};

}  // namespace KNN_800
