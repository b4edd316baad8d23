#include "knn/predict/KNNPredictionFactory.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>

#include "knn/base/StatusCodes.h"
#include "knn/predict/KNNPredictionSummary.h"
#include "knn/predict/ScoringLane.h"
#include "knn/search/kdtree/KNNKdTree.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;

KNNPredictionFactory::KNNPredictionFactory(std::vector<KNNPredictionSummary*> list,
                                           InterruptionProbe* interrupt, bool writeRows)
    : writeRows(writeRows),
      interrupt(interrupt),
      giveUpAt(std::numeric_limits<double>::infinity()) {
    SetSummaries(std::move(list));
}

KNNPredictionFactory::~KNNPredictionFactory() = default;

void KNNPredictionFactory::SetSummaries(std::vector<KNNPredictionSummary*> list) {
    summaries = std::move(list);
    errors.assign(summaries.size(), 0.0);
    allPresent = std::none_of(summaries.begin(), summaries.end(),
                              [](const KNNPredictionSummary* s) { return s == nullptr; });
}

std::vector<double> KNNPredictionFactory::GetCriteria() {
    std::vector<double> criteria;
    for (size_t i = 0; i < summaries.size(); ++i) {
        if (summaries[i] != nullptr) {
            criteria.push_back(summaries[i]->ErrorFromTotal(errors[i]));
        }
    }
    return criteria;
}

VelStatus KNNPredictionFactory::ProcessCase(NeighborList& list, const double* row) {
    for (size_t i = 0; i < summaries.size(); ++i) {
        const std::vector<double>& prediction = summaries[i]->Predict(row, list);
        const VelStatus result = summaries[i]->AccumulateError(row, prediction, &errors[i]);
        if (!result.IsOK()) {
            return result;
        }
    }
    return VelStatus();
}

void KNNPredictionFactory::Reset() {
    if (!allPresent) {
        return;
    }
    for (size_t i = 0; i < summaries.size(); ++i) {
        summaries[i]->ResetConfusionMatrix();
        errors[i] = 0.0;
    }
}

VelStatus KNNPredictionFactory::ScoreCases(KNNKdTree& tree, const CaseRows& cases, int K) {
    Reset();
    status = VelStatus();
    abandoned = false;
    const std::vector<double*>& rows = cases.rows;
    const int foldColumn = cases.foldColumn;
    const uint32_t fold = cases.fold;
    const bool byFold = fold != kNoFold && foldColumn >= 0;
    const bool mayGiveUp =
        giveUpAt < std::numeric_limits<double>::infinity() && allPresent && summaries.size() == 1;
    if (allPresent && !byFold && (!writeRows || WritesRowsInAnyOrder()) && ScoresRowsAlone() &&
        &rows == &tree.Rows() && static_cast<size_t>(tree.CaseCount()) == rows.size()) {
        bool settled = false;
        const VelStatus result = threads > 1 ? ScoreInTreeOrderParallel(tree, K, mayGiveUp, settled)
                                             : ScoreInTreeOrder(tree, K, mayGiveUp, settled);
        if (settled) {
            return result;
        }
        Reset();  // a row failed: score again in row order, which fixes the status reported
        status = VelStatus();
        abandoned = false;
    }
    if (threads > 1 && allPresent && !writeRows) {
        return ScoreInRowOrderParallel(tree, cases, K);
    }
    const std::span<const int> order =
        mayGiveUp || writeRows ? std::span<const int>() : cases.order;
    for (size_t p = 0; p < rows.size(); ++p) {
        const size_t r = order.empty() ? p : static_cast<size_t>(order[p]);
        const double* row = rows[r];
        if (interrupt != nullptr && interrupt->ShouldStop()) {
            status = Error(Code::Interrupted);
            return status;
        }
        if (byFold && !(row[foldColumn] == static_cast<double>(fold))) {
            continue;
        }
        NeighborList& list = *tree.Search(row, K, false);
        if (list.count == 0 && status.IsOK()) {
            if (!order.empty()) {
                return ScoreInRowOrder(tree, cases, K);
            }
            status = tree.NoNeighbourStatus(row);
        }
        if (status.IsOK()) {
            if (allPresent) {
                const VelStatus processed = ProcessCase(list, row);
                if (!processed.IsOK()) {
                    if (!order.empty()) {
                        return ScoreInRowOrder(tree, cases, K);
                    }
                    status = processed;
                    return status;
                }
            }
            if (writeRows) {
                WriteCase(list, row, r);
            }
            if (mayGiveUp && r % 16 == 15 && CannotBeat(errors.front(), rows.size() - r - 1, 0.0)) {
                abandoned = true;
                return status;
            }
        }
    }
    return status;
}

// A pass in another order that met a failing row is done again in row order, which fixes the
// status reported (that of the first failing row in row order).
VelStatus KNNPredictionFactory::ScoreInRowOrder(KNNKdTree& tree, const CaseRows& cases, int K) {
    Reset();
    status = VelStatus();
    return ScoreCases(tree, CaseRows{cases.rows, cases.foldColumn, cases.fold}, K);
}

// Scores every row of the tree (all of `rows`), searching them in the tree's case order: rows
// that follow each other there are near each other, so their searches walk the same part of
// the tree and find its values in the cache. Each row's contributions to the summaries' errors
// are kept and added in row order at the end, which gives the errors of the row-order pass to
// the bit (a contribution does not depend on the errors before it, and the confusion counts
// are whole numbers). `settled` is false when a row found no neighbour or its error could not
// be computed; the caller then repeats the pass in row order, which reports the status the
// row order gives. With `mayGiveUp` (one summary), the pass stops once its criterion can no
// longer come out below the bound.
VelStatus KNNPredictionFactory::ScoreInTreeOrder(KNNKdTree& tree, int K, bool mayGiveUp,
                                                 bool& settled) {
    const std::vector<double*>& rows = tree.Rows();
    const std::span<const int> order = tree.CaseIndices();
    const size_t n = rows.size();
    const size_t width = summaries.size();
    terms.resize(n * width);
    const double margin = GiveUpMargin(n);
    double partial = 0.0;
    settled = true;
    for (size_t p = 0; p < n; ++p) {
        if (interrupt != nullptr && interrupt->ShouldStop()) {
            status = Error(Code::Interrupted);
            return status;
        }
        const size_t r = static_cast<size_t>(order[p]);
        const double* row = rows[r];
        NeighborList& list = *tree.Search(row, K, false);
        std::fill(errors.begin(), errors.end(), 0.0);
        if (list.count == 0 || !ProcessCase(list, row).IsOK()) {
            settled = false;
            return status;
        }
        std::copy(errors.begin(), errors.end(), terms.begin() + static_cast<ptrdiff_t>(r * width));
        if (writeRows) {
            WriteCase(list, row, r);
        }
        if (mayGiveUp) {
            partial += errors.front();
            if (p % 16 == 15 && CannotBeat(partial, n - p - 1, margin)) {
                abandoned = true;
                return status;
            }
        }
    }
    std::fill(errors.begin(), errors.end(), 0.0);
    for (size_t r = 0; r < n; ++r) {
        for (size_t i = 0; i < width; ++i) {
            errors[i] += terms[r * width + i];
        }
    }
    return status;
}

bool KNNPredictionFactory::CannotBeat(double total, size_t remainingRows, double margin) const {
    // The criterion only grows with more cases: a sum of squares adds non-negative terms, and
    // a misclassified fraction is lowest if every remaining case comes out right. The smaller
    // of the two readings is therefore a bound the final criterion cannot go below.
    const KNNPredictionSummary& summary = *summaries.front();
    const double soFar = summary.ErrorFromTotal(total);
    const double allRight = summary.ErrorFromTotal(total + static_cast<double>(remainingRows));
    return std::min(soFar, allRight) >= giveUpAt * (1.0 + margin);
}

KNNKSelePredictionFactory::KNNKSelePredictionFactory(std::vector<KNNPredictionSummary*> list,
                                                     int kMin, int kMax,
                                                     InterruptionProbe* interrupt)
    : KNNPredictionFactory(std::move(list), interrupt, false), kMax(kMax), kMin(kMin) {
    ResizeErrorsByK();
}

void KNNKSelePredictionFactory::ResizeErrorsByK() {
    errorsByK.assign(summaries.size(), std::vector<double>(static_cast<size_t>(kMax - kMin + 1)));
}

VelStatus KNNKSelePredictionFactory::ProcessCase(NeighborList& list, const double* row) {
    // One search with K = kMax serves the whole range: the list is sorted nearest first, so its
    // first k entries are the k nearest neighbours. A list with fewer entries than asked for
    // (few cases outside a fold) serves the larger K with all it has.
    const int found = list.count;
    VelStatus result;
    for (size_t i = 0; i < summaries.size() && result.IsOK(); ++i) {
        for (int j = 0; j <= kMax - kMin; ++j) {
            list.count = std::min(kMin + j, found);
            const std::vector<double>& prediction = summaries[i]->Predict(row, list);
            result = summaries[i]->AccumulateError(row, prediction, &errorsByK[i][j]);
            if (!result.IsOK()) {
                break;
            }
        }
    }
    list.count = found;
    return result;
}

size_t KNNKSelePredictionFactory::TermWidth() const {
    return summaries.size() * static_cast<size_t>(kMax - kMin + 1);
}

// ProcessCase's work for one thread: the same predictions, each contribution into its own term.
VelStatus KNNKSelePredictionFactory::RowTerms(std::span<KNNPredictionSummary* const> own,
                                              NeighborList& list, const double* row, double* out,
                                              int /*lane*/) {
    const int found = list.count;
    const size_t range = static_cast<size_t>(kMax - kMin + 1);
    VelStatus result;
    for (size_t i = 0; i < own.size() && result.IsOK(); ++i) {
        for (int j = 0; j <= kMax - kMin; ++j) {
            list.count = std::min(kMin + j, found);
            double& term = out[i * range + static_cast<size_t>(j)];
            term = 0.0;
            const std::vector<double>& prediction = own[i]->Predict(row, list);
            result = own[i]->AccumulateError(row, prediction, &term);
            if (!result.IsOK()) {
                break;
            }
        }
    }
    list.count = found;
    return result;
}

void KNNKSelePredictionFactory::AddTerms(const double* in) {
    const size_t range = static_cast<size_t>(kMax - kMin + 1);
    for (size_t i = 0; i < errorsByK.size(); ++i) {
        for (size_t j = 0; j < range; ++j) {
            errorsByK[i][j] += in[i * range + j];
        }
    }
}

void KNNKSelePredictionFactory::Reset() {
    for (std::vector<double>& byK : errorsByK) {
        std::fill(byK.begin(), byK.end(), 0.0);
    }
}

}  // namespace KNN_800
