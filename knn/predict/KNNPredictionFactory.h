// Prediction factories drive the targets' summaries over a stream of cases: search each case's
// neighbours, let every summary predict, accumulate each target's error. The plain factory
// scores one K; the K-selection factory scores a whole range of K from the same lists.
#pragma once

#include <cstdint>
#include <vector>

#include "VelStatus.h"
#include "knn/base/InterruptionProbe.h"
#include "knn/search/NeighborList.h"

namespace KNN_800 {

class KNNPredictionSummary;
class KNNSingleResponseModel;

// The fold value that means "score every row".
constexpr uint32_t kNoFold = 0xFFFFFFFFu;

class KNNPredictionFactory {
public:
    // The summaries are not owned; a null entry is allowed (that target is not scored).
    KNNPredictionFactory(std::vector<KNNPredictionSummary*> summaries, InterruptionProbe* interrupt,
                         bool writeRows);
    virtual ~KNNPredictionFactory() = default;

    // Per present summary: its error criterion (misclassified fraction or sum of squares).
    virtual std::vector<double> GetCriteria();
    virtual VelCommon_940::VelStatus GetStatus() const { return status; }
    virtual void Prepare() {}
    virtual VelCommon_940::VelStatus ProcessCase(NeighborList& list, const double* row);
    virtual void Reset();
    virtual void WriteCase(const NeighborList& /*list*/, const double* /*row*/) {}

    // Searches every row (of fold `fold` only, unless kNoFold) among the other cases of the
    // model's tree with K neighbours, and processes it. Stops with status 1 when interrupted,
    // 200064 when a case found no neighbour.
    VelCommon_940::VelStatus ScoreCases(KNNSingleResponseModel& model,
                                        const std::vector<double*>& rows, uint32_t fold, int K);

    // Lets ScoreCases stop early once the first summary's criterion can no longer come out
    // below `bound` (+infinity: never). Used when only a candidate better than `bound` matters.
    void SetGiveUpAt(double bound) { giveUpAt = bound; }
    // Whether the last ScoreCases stopped early for that reason; its criteria are then partial.
    bool Abandoned() const { return abandoned; }

    bool AllPresent() const { return allPresent; }
    const std::vector<KNNPredictionSummary*>& Summaries() const { return summaries; }
    // Replaces the summary list (feature selection narrows it to one model at a time).
    void SetSummaries(std::vector<KNNPredictionSummary*> list);
    const std::vector<double>& Errors() const { return errors; }

protected:
    // Whether ProcessCase only adds each row's own contribution to `errors` (so that rows may
    // be searched in any order as long as the contributions are added in row order).
    virtual bool ScoresRowsAlone() const { return true; }

    std::vector<KNNPredictionSummary*> summaries;
    std::vector<double> errors;
    VelCommon_940::VelStatus status;
    bool allPresent = true;
    bool writeRows;
    InterruptionProbe* interrupt;

private:
    VelCommon_940::VelStatus ScoreInTreeOrder(KNNSingleResponseModel& model,
                                              const std::vector<double*>& rows, int K,
                                              bool& settled);
    bool CannotBeat(double total, size_t remainingRows, double margin) const;

    std::vector<double> terms;  // per row, its contribution (tree-order scoring)
    double giveUpAt;
    bool abandoned = false;
};

class KNNKSelePredictionFactory : public KNNPredictionFactory {
public:
    KNNKSelePredictionFactory(std::vector<KNNPredictionSummary*> summaries, int kMin, int kMax,
                              InterruptionProbe* interrupt);

    VelCommon_940::VelStatus ProcessCase(NeighborList& list, const double* row) override;
    void Reset() override;

    // errorsByK[i][j]: the accumulated error of summary i with K = kMin + j.
    const std::vector<std::vector<double>>& ErrorsByK() const { return errorsByK; }
    void ResizeErrorsByK();

protected:
    bool ScoresRowsAlone() const override { return false; }

private:
    std::vector<std::vector<double>> errorsByK;
    VelCommon_940::VelStatus kStatus;
    int kMax;
    int kMin;
};

}  // namespace KNN_800
