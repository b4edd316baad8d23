// Prediction factories drive the targets' summaries over a stream of cases: search each case's
// neighbours in a kd-tree, let every summary predict, accumulate each target's error. The plain
// factory scores one K; the K-selection factory scores a whole range of K from the same lists.
// A factory knows the tree (by its own type, so that a search is not a virtual call per case)
// and the rows to score, nothing of the models they belong to.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "VelStatus.h"
#include "knn/base/InterruptionProbe.h"
#include "knn/search/NeighborList.h"

namespace KNN_800 {

class KNNKdTree;
class KNNPredictionSummary;

// The fold value that means "score every row".
constexpr uint32_t kNoFold = 0xFFFFFFFFu;

// The cases to score: rows of the prepared data, every one or those of one fold.
struct CaseRows {
    const std::vector<double*>& rows;
    int foldColumn = -1;      // the column that holds each row's fold
    uint32_t fold = kNoFold;  // only the rows whose fold column holds this value
    // When not empty, the order in which to search the rows (every row index once), for a
    // factory whose errors do not depend on that order: rows near each other in space search
    // the same part of the tree one after the other. Only whole-number errors (counts of
    // correct votes) are the same in every order; the caller gives an order only for them.
    std::span<const int> order = {};
};

class KNNPredictionFactory {
public:
    // The summaries are not owned; a null entry is allowed (that target is not scored).
    KNNPredictionFactory(std::vector<KNNPredictionSummary*> summaries, InterruptionProbe* interrupt,
                         bool writeRows);
    virtual ~KNNPredictionFactory();

    // Per present summary: its error criterion (misclassified fraction or sum of squares).
    virtual std::vector<double> GetCriteria();
    virtual VelCommon_940::VelStatus GetStatus() const { return status; }
    virtual void Prepare() {}
    virtual VelCommon_940::VelStatus ProcessCase(NeighborList& list, const double* row);
    virtual void Reset();
    // Writes what ProcessCase made of row number `number` (its index in the rows scored).
    virtual void WriteCase(const NeighborList& /*list*/, const double* /*row*/, size_t /*number*/) {
    }

    // Searches every case of `cases` among the other cases of `tree` with K neighbours, and
    // processes it. Stops with status 1 when interrupted, 200064 when a case found no
    // neighbour.
    VelCommon_940::VelStatus ScoreCases(KNNKdTree& tree, const CaseRows& cases, int K);

    // Lets ScoreCases stop early once the first summary's criterion can no longer come out
    // below `bound` (+infinity: never). Used when only a candidate better than `bound` matters.
    void SetGiveUpAt(double bound) { giveUpAt = bound; }
    // Whether the last ScoreCases stopped early for that reason; its criteria are then partial.
    bool Abandoned() const { return abandoned; }

    // Threads for ScoreCases (1: the calling thread alone). The results are the same for every
    // count: with more than one, each case's contributions are computed into a slot of its own
    // and added in the order of the single-threaded pass (ParallelScoring.cpp).
    void SetThreads(int count) { threads = count; }
    int Threads() const { return threads; }
    InterruptionProbe* Probe() const { return interrupt; }

    bool AllPresent() const { return allPresent; }
    const std::vector<KNNPredictionSummary*>& Summaries() const { return summaries; }
    // Replaces the summary list (feature selection narrows it to one model at a time).
    void SetSummaries(std::vector<KNNPredictionSummary*> list);
    const std::vector<double>& Errors() const { return errors; }

protected:
    // Whether ProcessCase only adds each row's own contribution to `errors` (so that rows may
    // be searched in any order as long as the contributions are added in row order).
    virtual bool ScoresRowsAlone() const { return true; }
    // Whether WriteCase may be called for the rows in any order (it places each by its
    // number), so that a pass that writes rows may search them in the tree's order too.
    virtual bool WritesRowsInAnyOrder() const { return false; }

    // Scoring by several threads (ParallelScoring.cpp). Each thread scores with copies of the
    // summaries of its own (`own`, in the order of `summaries`) and puts a case's contributions
    // into `terms` (TermWidth() of them) instead of the factory's errors; AddTerms then adds
    // them as ProcessCase would have, on the calling thread.
    virtual size_t TermWidth() const { return summaries.size(); }
    virtual VelCommon_940::VelStatus RowTerms(std::span<KNNPredictionSummary* const> own,
                                              NeighborList& list, const double* row, double* terms,
                                              int lane);
    virtual void AddTerms(const double* terms);
    // For a factory that writes rows in any order: make room for `lanes` threads and `slots`
    // cases per wave; FormatRow prepares what WriteCase would write for the case in `slot`
    // (after RowTerms of the same lane), and StoreRows writes slots 0 ... count - 1, in order.
    virtual void PrepareRowSlots(int /*lanes*/, size_t /*slots*/) {}
    virtual void FormatRow(int /*lane*/, size_t /*slot*/, const NeighborList& /*list*/,
                           const double* /*row*/, size_t /*number*/) {}
    virtual void StoreRows(size_t /*count*/) {}

    std::vector<KNNPredictionSummary*> summaries;
    std::vector<double> errors;
    VelCommon_940::VelStatus status;
    bool allPresent = true;
    bool writeRows;
    InterruptionProbe* interrupt;

private:
    VelCommon_940::VelStatus ScoreInTreeOrder(KNNKdTree& tree, int K, bool mayGiveUp,
                                              bool& settled);
    VelCommon_940::VelStatus ScoreInRowOrder(KNNKdTree& tree, const CaseRows& cases, int K);
    bool CannotBeat(double total, size_t remainingRows, double margin) const;
    // The relative margin of a partial sum of `n` contributions added in another order than
    // the final one: each of the two lies within (n - 1) * 2^-53 of its exact value, so giving
    // up only past this margin never drops a candidate the row-order sum would have kept.
    static double GiveUpMargin(size_t n) {
        return 4.0 * static_cast<double>(n) * std::ldexp(1.0, -53);
    }
    // The same passes by several threads (ParallelScoring.cpp).
    struct Lane;
    void PrepareLanes(int count);
    void AddLaneCounts();
    VelCommon_940::VelStatus ScoreInTreeOrderParallel(KNNKdTree& tree, int K, bool mayGiveUp,
                                                      bool& settled);
    VelCommon_940::VelStatus ScoreInRowOrderParallel(KNNKdTree& tree, const CaseRows& cases, int K);

    std::vector<double> terms;  // per row and summary, its contribution (tree-order scoring)
    double giveUpAt;
    bool abandoned = false;
    int threads = 1;
    std::vector<std::unique_ptr<Lane>> lanes;  // per thread, kept from pass to pass
    int activeLanes = 0;                       // those of the current pass
    std::vector<int> positions;                // the rows of a parallel pass, in pass order
    std::vector<uint8_t> slotState;            // per case of a wave: how its scoring went
};

class KNNKSelePredictionFactory : public KNNPredictionFactory {
public:
    KNNKSelePredictionFactory(std::vector<KNNPredictionSummary*> summaries, int kMin, int kMax,
                              InterruptionProbe* interrupt);

    VelCommon_940::VelStatus ProcessCase(NeighborList& list, const double* row) override;
    void Reset() override;
    size_t TermWidth() const override;
    VelCommon_940::VelStatus RowTerms(std::span<KNNPredictionSummary* const> own,
                                      NeighborList& list, const double* row, double* terms,
                                      int lane) override;
    void AddTerms(const double* terms) override;

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
