// The scoring passes of KNNPredictionFactory on several threads, with the results of the
// single-threaded passes to the bit.
//
// How. The cases of a pass are split into chunks of consecutive cases (in the pass's order),
// which the threads take one at a time (knn/base/ParallelChunks.h). Each thread searches the
// shared tree with its own search scratch and predicts with its own copies of the summaries,
// and writes a case's contributions to the errors into that case's slot. Only the calling
// thread then adds the slots up, in the order the single-threaded pass adds them: by row number
// for the pass in the tree's order, by pass position for the pass in row (or given) order.
// A contribution does not depend on the errors before it, so every sum comes out as in one
// thread; confusion counts are whole numbers, so the copies' counts added to the summaries'
// give the same matrix. A case whose search needs the tree's node records (which a build
// leaves out until a search needs them, and which only the tree's owner may add) is put aside
// and scored by the calling thread after the others, before the slots are added up.
#include <algorithm>
#include <cmath>
#include <limits>

#include "knn/base/ParallelChunks.h"
#include "knn/base/StatusCodes.h"
#include "knn/predict/KNNPredictionFactory.h"
#include "knn/predict/KNNPredictionSummary.h"
#include "knn/predict/ScoringLane.h"
#include "knn/search/kdtree/KNNKdTree.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;

namespace {

// Cases per chunk: small enough that a stop is seen soon and the threads finish together,
// large enough that consecutive searches share the tree's cache lines.
constexpr size_t kChunk = 32;
// Cases per wave of a pass that writes rows or adds up by position: what is kept in memory
// between the threads' work and the calling thread's.
constexpr size_t kWave = 8192;

enum SlotState : uint8_t { kScored, kNoNeighbour, kFailed, kPutAside };

}  // namespace

VelStatus KNNPredictionFactory::RowTerms(std::span<KNNPredictionSummary* const> own,
                                         NeighborList& list, const double* row, double* out,
                                         int /*lane*/) {
    for (size_t i = 0; i < own.size(); ++i) {
        out[i] = 0.0;
        const std::vector<double>& prediction = own[i]->Predict(row, list);
        const VelStatus result = own[i]->AccumulateError(row, prediction, &out[i]);
        if (!result.IsOK()) {
            return result;
        }
    }
    return VelStatus();
}

void KNNPredictionFactory::AddTerms(const double* in) {
    for (size_t i = 0; i < errors.size(); ++i) {
        errors[i] += in[i];
    }
}

// Fresh copies of the current summaries for `count` lanes (the summaries may have been
// replaced since the last pass), with their counts at zero.
void KNNPredictionFactory::PrepareLanes(int count) {
    activeLanes = count;
    while (lanes.size() < static_cast<size_t>(count)) {
        lanes.push_back(std::make_unique<Lane>());
    }
    for (int l = 0; l < count; ++l) {
        Lane& lane = *lanes[static_cast<size_t>(l)];
        lane.copies.clear();
        lane.own.clear();
        for (KNNPredictionSummary* summary : summaries) {
            lane.copies.push_back(summary->Clone());
            lane.copies.back()->ResetConfusionMatrix();
            lane.own.push_back(lane.copies.back().get());
        }
        lane.partial.store(0.0, std::memory_order_relaxed);
        lane.done.store(0, std::memory_order_relaxed);
    }
    PrepareRowSlots(count, kWave);
}

// Only the lanes of the current pass: a lane left from a pass with more threads holds the
// counts of that pass.
void KNNPredictionFactory::AddLaneCounts() {
    for (int l = 0; l < activeLanes; ++l) {
        const Lane& lane = *lanes[static_cast<size_t>(l)];
        for (size_t i = 0; i < summaries.size() && i < lane.copies.size(); ++i) {
            summaries[i]->AddCounts(*lane.copies[i]);
        }
    }
}

// ScoreInTreeOrder on several threads: the same terms per row, added up in row order. A pass
// that writes rows goes in waves, each written by the calling thread in the tree's order.
VelStatus KNNPredictionFactory::ScoreInTreeOrderParallel(KNNKdTree& tree, int K, bool mayGiveUp,
                                                         bool& settled) {
    const std::vector<double*>& rows = tree.Rows();
    const std::span<const int> order = tree.CaseIndices();
    const size_t n = rows.size();
    const size_t width = summaries.size();
    terms.resize(n * width);
    const double margin = GiveUpMargin(n);
    const size_t wave = writeRows ? kWave : std::max<size_t>(n, 1);
    const int laneCount = LanesFor(threads, (std::min(wave, n) + kChunk - 1) / kChunk);
    PrepareLanes(laneCount);
    slotState.resize(std::min(wave, n));
    std::atomic<bool> giveUp{false};
    settled = true;

    // With `mayGiveUp`, the calling thread looks after each of its chunks whether the cases
    // scored so far, by all threads, already rule the candidate out. Any order of addition
    // stays within the margin of ScoreInTreeOrder (see there).
    auto checkGiveUp = [&] {
        double total = 0.0;
        size_t scored = 0;
        for (int l = 0; l < laneCount; ++l) {
            const Lane& lane = *lanes[static_cast<size_t>(l)];
            scored += lane.done.load(std::memory_order_acquire);
            total += lane.partial.load(std::memory_order_acquire);
        }
        if (CannotBeat(total, n - std::min(scored, n), margin)) {
            giveUp.store(true, std::memory_order_relaxed);
        }
    };

    for (size_t start = 0; start < n; start += wave) {
        const size_t count = std::min(wave, n - start);
        const size_t chunks = (count + kChunk - 1) / kChunk;
        const bool complete = RunChunks(threads, chunks, interrupt, [&](int l, size_t chunk) {
            if (giveUp.load(std::memory_order_relaxed)) {
                return;
            }
            Lane& lane = *lanes[static_cast<size_t>(l)];
            const size_t end = std::min(count, (chunk + 1) * kChunk);
            double partial = 0.0;
            size_t done = 0;
            for (size_t slot = chunk * kChunk; slot < end; ++slot) {
                const size_t r = static_cast<size_t>(order[start + slot]);
                NeighborList* list = tree.SearchShared(lane.search, rows[r], K, false);
                if (list == nullptr) {
                    slotState[slot] = kPutAside;
                    continue;
                }
                double* out = terms.data() + r * width;
                if (list->count == 0 || !RowTerms(lane.own, *list, rows[r], out, l).IsOK()) {
                    slotState[slot] = kFailed;
                    continue;
                }
                slotState[slot] = kScored;
                if (writeRows) {
                    FormatRow(l, slot, *list, rows[r], r);
                }
                if (mayGiveUp) {
                    partial += out[0];
                    ++done;
                }
            }
            if (mayGiveUp) {
                lane.partial.store(lane.partial.load(std::memory_order_relaxed) + partial,
                                   std::memory_order_release);
                lane.done.store(lane.done.load(std::memory_order_relaxed) + done,
                                std::memory_order_release);
                if (l == 0) {
                    checkGiveUp();
                }
            }
        });
        if (!complete) {
            status = Error(Code::Interrupted);
            return status;
        }
        // The other threads may have scored the last cases after the calling thread's last
        // look; now that all are joined, one more look sees every sum, so whether the pass gives
        // up does not depend on how the chunks fell to the threads.
        if (mayGiveUp && !giveUp.load()) {
            checkGiveUp();
        }
        if (giveUp.load()) {
            abandoned = true;
            return status;
        }
        // The cases put aside, on the calling thread with the tree's own search and the first
        // lane's summaries.
        Lane& first = *lanes.front();
        for (size_t slot = 0; slot < count; ++slot) {
            if (slotState[slot] != kPutAside) {
                continue;
            }
            const size_t r = static_cast<size_t>(order[start + slot]);
            NeighborList& list = *tree.Search(rows[r], K, false);
            double* out = terms.data() + r * width;
            if (list.count == 0 || !RowTerms(first.own, list, rows[r], out, 0).IsOK()) {
                slotState[slot] = kFailed;
            } else if (writeRows) {
                slotState[slot] = kScored;
                FormatRow(0, slot, list, rows[r], r);
            }
        }
        if (std::find(slotState.begin(), slotState.begin() + static_cast<ptrdiff_t>(count),
                      kFailed) != slotState.begin() + static_cast<ptrdiff_t>(count)) {
            settled = false;  // the caller scores again in row order
            return status;
        }
        if (writeRows) {
            StoreRows(count);
        }
    }
    AddLaneCounts();
    std::fill(errors.begin(), errors.end(), 0.0);
    for (size_t r = 0; r < n; ++r) {
        AddTerms(terms.data() + r * width);
    }
    return status;
}

// The pass in row order (or the order given) without writing rows, on several threads: the
// terms of each wave are added in pass order, as the single-threaded pass adds them. The first
// failing case in pass order decides the status, as there.
VelStatus KNNPredictionFactory::ScoreInRowOrderParallel(KNNKdTree& tree, const CaseRows& cases,
                                                        int K) {
    const std::vector<double*>& rows = cases.rows;
    const bool byFold = cases.fold != kNoFold && cases.foldColumn >= 0;
    positions.clear();
    for (size_t p = 0; p < rows.size(); ++p) {
        const size_t r = cases.order.empty() ? p : static_cast<size_t>(cases.order[p]);
        if (!byFold || rows[r][cases.foldColumn] == static_cast<double>(cases.fold)) {
            positions.push_back(static_cast<int>(r));
        }
    }
    const size_t n = positions.size();
    const size_t width = TermWidth();
    const size_t wave = std::min(kWave, std::max<size_t>(n, 1));
    std::vector<double> waveTerms(wave * width);
    const int laneCount = LanesFor(threads, (wave + kChunk - 1) / kChunk);
    PrepareLanes(laneCount);
    slotState.resize(wave);

    for (size_t start = 0; start < n; start += wave) {
        const size_t count = std::min(wave, n - start);
        const size_t chunks = (count + kChunk - 1) / kChunk;
        const bool complete = RunChunks(threads, chunks, interrupt, [&](int l, size_t chunk) {
            Lane& lane = *lanes[static_cast<size_t>(l)];
            const size_t end = std::min(count, (chunk + 1) * kChunk);
            for (size_t slot = chunk * kChunk; slot < end; ++slot) {
                const double* row = rows[static_cast<size_t>(positions[start + slot])];
                NeighborList* list = tree.SearchShared(lane.search, row, K, false);
                if (list == nullptr) {
                    slotState[slot] = kPutAside;
                } else if (list->count == 0) {
                    slotState[slot] = kNoNeighbour;
                } else if (!RowTerms(lane.own, *list, row, &waveTerms[slot * width], l).IsOK()) {
                    slotState[slot] = kFailed;
                } else {
                    slotState[slot] = kScored;
                }
            }
        });
        if (!complete) {
            status = Error(Code::Interrupted);
            return status;
        }
        for (size_t slot = 0; slot < count; ++slot) {
            const double* row = rows[static_cast<size_t>(positions[start + slot])];
            if (slotState[slot] == kPutAside) {
                NeighborList& list = *tree.Search(row, K, false);
                if (list.count == 0) {
                    slotState[slot] = kNoNeighbour;
                } else if (!RowTerms(lanes.front()->own, list, row, &waveTerms[slot * width], 0)
                                .IsOK()) {
                    slotState[slot] = kFailed;
                } else {
                    slotState[slot] = kScored;
                }
            }
            if (slotState[slot] != kScored && !cases.order.empty()) {
                return ScoreInRowOrder(tree, cases, K);
            }
            if (slotState[slot] == kNoNeighbour) {
                status = tree.NoNeighbourStatus(row);
                return status;
            }
            if (slotState[slot] == kFailed) {
                // Scored once more, alone, for the status the failure gives.
                status = RowTerms(lanes.front()->own, *tree.Search(row, K, false), row,
                                  &waveTerms[slot * width], 0);
                return status;
            }
            AddTerms(&waveTerms[slot * width]);
        }
    }
    AddLaneCounts();
    return status;
}

}  // namespace KNN_800
