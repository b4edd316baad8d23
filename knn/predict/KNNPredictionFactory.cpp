#include "knn/predict/KNNPredictionFactory.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "knn/core/StatusCodes.h"
#include "knn/model/KNNSingleResponseModel.h"
#include "knn/predict/KNNPredictionSummary.h"
#include "knn/search/KNNKdTree.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;

KNNPredictionFactory::KNNPredictionFactory(std::vector<KNNPredictionSummary*> list,
                                           InterruptionProbe* interrupt, bool writeRows)
    : writeRows(writeRows),
      interrupt(interrupt),
      giveUpAt(std::numeric_limits<double>::infinity()) {
    SetSummaries(std::move(list));
}

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

VelStatus KNNPredictionFactory::ScoreCases(KNNSingleResponseModel& model,
                                           const std::vector<double*>& rows, uint32_t fold, int K) {
    Reset();
    status = VelStatus();
    abandoned = false;
    const int foldColumn = model.Settings()->VFoldVariable;
    const bool byFold = fold != kNoFold && foldColumn >= 0;
    const bool mayGiveUp =
        giveUpAt < std::numeric_limits<double>::infinity() && allPresent && summaries.size() == 1;
    KNNKdTree& tree = *model.Tree();
    for (size_t r = 0; r < rows.size(); ++r) {
        const double* row = rows[r];
        if (interrupt != nullptr && interrupt->ShouldStop()) {
            status = Error(Code::Interrupted);
            return status;
        }
        if (byFold && !(row[foldColumn] == static_cast<double>(fold))) {
            continue;
        }
        NeighborList& list = *tree.Search(row, K, false);
        if (list.count == 0) {
            status = Error(Code::NoNeighbour);
        }
        if (status.IsOK()) {
            if (allPresent) {
                const VelStatus processed = ProcessCase(list, row);
                if (!processed.IsOK()) {
                    status = processed;
                    return status;
                }
            }
            if (writeRows) {
                WriteCase(list, row);
            }
            if (mayGiveUp && r % 16 == 15 && CannotBeat(rows.size() - r - 1)) {
                abandoned = true;
                return status;
            }
        }
    }
    return status;
}

bool KNNPredictionFactory::CannotBeat(size_t remainingRows) const {
    // The criterion only grows with more cases: a sum of squares adds non-negative terms, and
    // a misclassified fraction is lowest if every remaining case comes out right. The smaller
    // of the two readings is therefore a bound the final criterion cannot go below.
    const KNNPredictionSummary& summary = *summaries.front();
    const double soFar = summary.ErrorFromTotal(errors.front());
    const double allRight =
        summary.ErrorFromTotal(errors.front() + static_cast<double>(remainingRows));
    return std::min(soFar, allRight) >= giveUpAt;
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

void KNNKSelePredictionFactory::Reset() {
    for (std::vector<double>& byK : errorsByK) {
        std::fill(byK.begin(), byK.end(), 0.0);
    }
}

}  // namespace KNN_800
