// The neighbour list while a search kernel fills it: the admission threshold, insertion by the
// tie rule (NeighborList.h), leaving out the query's own case, and the two ways a block's
// candidates go in - in stored order, kept only when no two distances involved lie within the
// rounding margin of each other, or in the order of the node-by-node descent. SearchKernel.h
// says why either gives the node-by-node walk's list.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "knn/search/NeighborList.h"
#include "knn/search/kdtree/Layout.h"

namespace KNN_800 {

namespace kdtree {

// What the list filling is given, once per search.
struct FillInput {
    NeighborList* list;
    Neighbor* saved;            // room for the list while a block may be redone
    double unbounded;           // admission threshold of a list that is not full
    double tolerance;           // rounding margin of the block walk (see SearchKernel.h)
    const double* row;          // the query as given, for its case identifier
    const double* const* rows;  // the prepared rows, for the stored cases' identifiers
    int caseIdColumn;
    bool includeSelf;
};

class NeighborFill {
public:
    explicit NeighborFill(const FillInput& input)
        : list(input.list),
          e(input.list->entries.data()),
          saved(input.saved),
          k(input.list->k),
          unbounded(input.unbounded),
          tolerance(input.tolerance),
          row(input.row),
          rows(input.rows),
          caseIdColumn(input.caseIdColumn),
          includeSelf(input.includeSelf),
          threshold(input.unbounded) {}

    // A case enters the list when its accumulated distance is at most this.
    [[gnu::always_inline]] double Threshold() const { return threshold; }
    [[gnu::always_inline]] void Finish() { list->count = count; }

    // A case at most the threshold away: inserted unless it is the query's own.
    [[gnu::always_inline]] void Offer(double sum, int caseRow) {
        if (!IsSelf(sum, caseRow)) {
            Insert(sum, caseRow);
        }
    }

    // Inserts a block's candidates (bits of `candidates`, distances and rows by stored
    // position) in stored order, and keeps the result unless two distances involved - two
    // entries of the full list, or its last entry and a distance that fell out - lie within
    // the tolerance of each other; then undoes it and returns false.
    [[gnu::always_inline]] bool TakeInStoredOrder(const double* distance, const int* rowOf,
                                                  unsigned candidates) {
        const int savedCount = count;
        const double savedThreshold = threshold;
        std::copy_n(e, count, saved);
        double left[2 * kMaxBlockCases];  // distances that ended outside the list
        int leftCount = 0;
        for (unsigned bits = candidates; bits != 0; bits &= bits - 1) {
            const int i = __builtin_ctz(bits);
            const double sum = distance[i];
            const int caseRow = rowOf[i];
            if (IsSelf(sum, caseRow)) {
                continue;
            }
            if (sum > threshold) {
                left[leftCount++] = sum;
                continue;
            }
            const bool full = count == k;
            Insert(sum, caseRow);
            if (full) {
                left[leftCount++] = e[k].distance;
            }
        }
        bool nearTie = false;
        for (int t = 1; t < count; ++t) {
            nearTie |= e[t].distance - e[t - 1].distance <= tolerance;
        }
        if (count == k) {
            for (int t = 0; t < leftCount; ++t) {
                nearTie |= left[t] <= threshold + tolerance;
            }
        }
        if (!nearTie) {
            return true;
        }
        count = savedCount;
        threshold = savedThreshold;
        std::copy_n(saved, count, e);
        return false;
    }

    // Inserts a block's candidates in the given order of stored positions. False, with the
    // search undecided, when one would enter the full list within the tolerance below the
    // threshold.
    [[gnu::always_inline]] bool TakeInOrder(const double* distance, const int* rowOf,
                                            const int8_t* order, int ordered) {
        for (int t = 0; t < ordered; ++t) {
            const int i = order[t];
            const double sum = distance[i];
            const int caseRow = rowOf[i];
            if (sum > threshold || IsSelf(sum, caseRow)) {
                continue;
            }
            if (count == k && sum < threshold && sum >= threshold - tolerance) {
                return false;
            }
            Insert(sum, caseRow);
        }
        return true;
    }

private:
    // A case at distance 0 that carries the query's case identifier, when the query's own case
    // is to be left out.
    [[gnu::always_inline]] bool IsSelf(double sum, int caseRow) const {
        return !includeSelf && sum == 0.0 && caseIdColumn >= 0 &&
               row[caseIdColumn] == std::trunc(rows[caseRow][caseIdColumn]);
    }

    // The tie rule: the case goes after every entry at a distance not above its own, so of
    // equal distances the one found first stays first; in a full list the last entry moves to
    // the scratch slot k.
    [[gnu::always_inline]] void Insert(double sum, int caseRow) {
        int pos = count;
        while (pos > 0 && e[pos - 1].distance > sum) {
            e[pos] = e[pos - 1];
            --pos;
        }
        e[pos].distance = sum;
        e[pos].caseIndex = static_cast<uint32_t>(caseRow);
        if (count < k) {
            ++count;
        }
        threshold = count < k ? unbounded : e[k - 1].distance;
    }

    NeighborList* const list;
    Neighbor* const e;
    Neighbor* const saved;
    const int k;
    const double unbounded;
    const double tolerance;
    const double* const row;
    const double* const* const rows;
    const int caseIdColumn;
    const bool includeSelf;
    int count = 0;
    double threshold;
};

}  // namespace kdtree

}  // namespace KNN_800
