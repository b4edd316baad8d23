// The cells of the kd-tree and their splits: which feature a cell is split on (the widest
// continuous spread, by the sliding-midpoint rule; else one category against the rest), the
// partition passes that order its cases, and the records each cell leaves in the node records
// and the search image (see Layout.h).
#include <algorithm>
#include <cmath>
#include <limits>

#include "knn/search/kdtree/ExchangePartition.h"
#include "knn/search/kdtree/KNNKdTree.h"

namespace KNN_800 {

using namespace kdtree;

// `inBlock`: the node lies inside a block of the search image, which its block root writes.
// Without nodesBuilt the records of a node outside the blocks are dropped once its subtree is
// in the image, so `nodes` only ever holds one path and one block.
int KNNKdTree::BuildNode(int start, int count, int depth, bool inBlock) {
    const size_t first = nodes.size();
    const int position = BuildCell(start, count, depth, inBlock);
    if (!nodesBuilt && !inBlock) {
        nodes.resize(first);
    }
    return position;
}

// The cell of the cases start ... start + count - 1: a leaf when it holds one case or its
// cases coincide, else a split. Returns the cell's position in `nodes`.
int KNNKdTree::BuildCell(int start, int count, int depth, bool inBlock) {
    maxDepth = std::max(maxDepth, depth);
    if (count <= bucketSize) {
        return AddLeaf(start, count, inBlock);
    }
    if (!allContinuous && depth > 0) {
        CategoricalBounds(start, count);
    }
    if (CellIsFlat()) {
        return AddLeaf(start, count, inBlock);
    }
    // The features whose cell spread comes within 0.1 % of the widest are the candidates.
    double maxSpread = -std::numeric_limits<double>::infinity();
    for (size_t j = 0; j < entries.size(); ++j) {
        const size_t s = static_cast<size_t>(featureSlot[j]);
        const double spread = cellHigh[s] - cellLow[s];
        if (spread > maxSpread) {
            maxSpread = spread;
        }
    }
    const double limit = 0.999 * maxSpread;
    const int split = SplitContinuous(start, count, depth, inBlock, limit);
    return split >= 0 ? split : SplitCategorical(start, count, depth, inBlock, limit);
}

[[gnu::always_inline]] inline bool KNNKdTree::IsCandidate(size_t feature, double limit) const {
    const size_t s = static_cast<size_t>(featureSlot[feature]);
    return cellHigh[s] - cellLow[s] >= limit;
}

[[gnu::always_inline]] inline int KNNKdTree::AddLeaf(int start, int count, bool inBlock) {
    const int self = static_cast<int>(nodes.size());
    nodes.push_back(FlatNode{0.0, 0.0, 0.0, start, ~count});
    if (!inBlock) {
        image.push_back(AsSlot(NodeHead{~count, start}));
    }
    return self;
}

// Among the continuous candidates the one whose cases spread widest (scaled) is split at the
// cell's midpoint, slid to the nearest case when that leaves one side empty. Returns -1 when
// no continuous feature is a candidate.
[[gnu::always_inline]] inline int KNNKdTree::SplitContinuous(int start, int count, int depth,
                                                             bool inBlock, double limit) {
    const size_t F = entries.size();
    const double* base = &points[static_cast<size_t>(start) * F];
    int best = -1;
    double bestSpread = -1.0;
    double bestMin = 0.0;
    double bestMax = 0.0;
    for (size_t j = 0; j < F; ++j) {
        if (!featureContinuous[j] || !IsCandidate(j, limit)) {
            continue;
        }
        const double* x = base + j;
        double low = x[0];
        double high = x[0];
        for (int i = 1; i < count; ++i) {
            const double v = x[static_cast<size_t>(i) * F];
            if (v < low) {
                low = v;
            }
            if (v > high) {
                high = v;
            }
        }
        const double spread = (high - low) * featureFactor[j];
        if (spread > bestSpread) {
            best = static_cast<int>(j);
            bestSpread = spread;
            bestMin = low;
            bestMax = high;
        }
    }
    if (best < 0) {
        return -1;
    }

    const size_t j = static_cast<size_t>(best);
    const size_t s = static_cast<size_t>(featureSlot[j]);
    const double f = featureFactor[j];
    const double ideal = (cellHigh[s] + cellLow[s]) * 0.5;
    const double lo = std::min(f * bestMin, f * bestMax);
    const double hi = std::max(f * bestMin, f * bestMax);
    const double cut = lo > ideal ? lo : (ideal > hi ? hi : ideal);

    // Three groups: scaled value below, equal to and above the cut; the equal group ordered by
    // case index, descending.
    const int end = start + count;
    const auto value = [&](int p) { return f * points[static_cast<size_t>(p) * F + j]; };
    const auto swap = [this](int a, int b) { SwapSlots(a, b); };
    const int br1 = ExchangePartition(
        start, end, [&](int p) { return value(p) < cut; }, swap, exchangeBits);
    const int br2 =
        br1 + ExchangePartition(
                  start + br1, end, [&](int p) { return value(p) <= cut; }, swap, exchangeBits);
    SortEqualGroup(start + br1, br2 - br1);

    // The low side takes the cases below the cut and as many equal ones as bring it closest
    // to half.
    const int half = count / 2;
    int lowCount;
    if (lo > ideal) {
        lowCount = 1;
    } else if (ideal > hi) {
        lowCount = count - 1;
    } else {
        lowCount = br1 > half ? br1 : std::min(br2, half);
    }
    if (lowCount < 1 || lowCount >= count) {
        return AddLeaf(start, count, inBlock);
    }
    const FlatNode split{cut / f, cellHigh[s] / f, cellLow[s] / f, 0, best};
    return AddSplit(split, start, count, lowCount, depth, inBlock, static_cast<int>(s), cut);
}

// Among the categorical candidates, splits off the category whose count comes closest to half
// the cell's cases (the split's high side).
int KNNKdTree::SplitCategorical(int start, int count, int depth, bool inBlock, double limit) {
    const size_t F = entries.size();
    const double* base = &points[static_cast<size_t>(start) * F];
    int best = -1;
    double bestScore = -1.0;
    int bestCategory = -1;
    for (size_t j = 0; j < F; ++j) {
        if (featureContinuous[j] || !IsCandidate(j, limit)) {
            continue;
        }
        const int categories = featureCategories[j];
        std::fill_n(categoryTally.begin(), categories, 0);
        const double* x = base + j;
        for (int i = 0; i < count; ++i) {
            const double v = x[static_cast<size_t>(i) * F];
            if (v >= 0.0 && v < categories && v == std::floor(v)) {
                ++categoryTally[static_cast<size_t>(v)];
            }
        }
        const double halfCount = count * 0.5;
        double nearest = std::numeric_limits<double>::infinity();
        int category = -1;
        for (int c = 0; c < categories; ++c) {
            const double gap = std::fabs(halfCount - categoryTally[static_cast<size_t>(c)]);
            if (gap < nearest) {
                nearest = gap;
                category = c;
            }
        }
        const double score = count - nearest;
        if (score > bestScore) {
            bestScore = score;
            best = static_cast<int>(j);
            bestCategory = category;
        }
    }
    if (best < 0) {
        return AddLeaf(start, count, inBlock);
    }
    const size_t j = static_cast<size_t>(best);
    const double u = bestCategory;
    const int end = start + count;
    const auto differs = [&](int p) {
        return std::fabs(points[static_cast<size_t>(p) * F + j] - u) > kTiny;
    };
    const auto swap = [this](int a, int b) { SwapSlots(a, b); };
    const int lowCount = ExchangePartition(start, end, differs, swap, exchangeBits);
    if (lowCount < 1 || lowCount >= count) {
        return AddLeaf(start, count, inBlock);
    }
    const size_t s = static_cast<size_t>(featureSlot[j]);
    const FlatNode split{u / 1.0, cellHigh[s] / 1.0, cellLow[s] / 1.0, 0, best | kCategoricalSplit};
    return AddSplit(split, start, count, lowCount, depth, inBlock, -1, 0.0);
}

// Adds `split` with its children (the first lowCount cases low) to `nodes` and to the image:
// above the blocks as a split node, inside a block as a block split, the block's root first
// writing the block's head. `cutSlot`: the feature slot whose cell the cut at `scaledCut`
// narrows for each child (a continuous split), or -1.
[[gnu::always_inline]] inline int KNNKdTree::AddSplit(const FlatNode& split, int start, int count,
                                                      int lowCount, int depth, bool inBlock,
                                                      int cutSlot, double scaledCut) {
    const int self = static_cast<int>(nodes.size());
    nodes.push_back(split);
    const bool blockRoot = !inBlock && count <= kMaxBlockCases;
    const bool below = inBlock || blockRoot;
    if (blockRoot) {
        image.push_back(AsSlot(NodeHead{~(count | kBlockLeaf), start}));
    }
    const size_t imageSelf = image.size();
    if (below) {
        image.push_back(split.cut);
        image.push_back(0.0);
    } else {
        image.push_back(0.0);
        image.push_back(split.cut);
        image.push_back(split.highBound);
        image.push_back(split.lowBound);
    }

    const size_t s = static_cast<size_t>(cutSlot);
    double savedHigh = 0.0;
    double savedLow = 0.0;
    if (cutSlot >= 0) {
        savedHigh = cellHigh[s];
        savedLow = cellLow[s];
        cellHigh[s] = scaledCut;
    }
    BuildNode(start, lowCount, depth + 1, below);
    if (cutSlot >= 0) {
        cellHigh[s] = savedHigh;
        cellLow[s] = scaledCut;
    }
    const size_t imageHigh = image.size();
    const int high = BuildNode(start + lowCount, count - lowCount, depth + 1, below);
    if (cutSlot >= 0) {
        cellLow[s] = savedLow;
    }

    nodes[static_cast<size_t>(self)].ref = high;
    if (below) {
        // Each split inside a block takes two slots; a child that is a leaf takes none.
        const size_t lowSplits = (imageHigh - imageSelf - 2) / 2;
        const size_t highSplits = (image.size() - imageHigh) / 2;
        image[imageSelf + 1] =
            AsSlot(BlockSplit{split.info, static_cast<uint8_t>(lowCount),
                              static_cast<uint8_t>(lowSplits), lowSplits > 0, highSplits > 0});
    } else {
        image[imageSelf] = AsSlot(NodeHead{split.info, static_cast<int32_t>(imageHigh)});
    }
    return self;
}

bool KNNKdTree::CellIsFlat() const {
    for (size_t j = 0; j < entries.size(); ++j) {
        const size_t s = static_cast<size_t>(featureSlot[j]);
        if (!(std::fabs(cellHigh[s] - cellLow[s]) <= kTiny)) {
            return false;
        }
    }
    return true;
}

// The cell's bounds on the categorical features (each column once): (factor, 0) when the
// cases start ... start + count - 1 differ on it, (0, 0) when they agree.
void KNNKdTree::CategoricalBounds(int start, int count) {
    const size_t F = entries.size();
    for (size_t j = 0; j < F; ++j) {
        if (featureContinuous[j] || featureSlot[j] != static_cast<int>(j)) {
            continue;
        }
        bool varies = false;
        if (count > 0) {
            const double* x = &points[static_cast<size_t>(start) * F + j];
            const double first = x[0];
            for (int i = 1; i < count; ++i) {
                if (x[static_cast<size_t>(i) * F] != first) {
                    varies = true;
                    break;
                }
            }
        }
        cellHigh[j] = varies ? featureFactor[j] : 0.0;
        cellLow[j] = 0.0;
    }
}

void KNNKdTree::SwapSlots(int a, int b) {
    std::swap(caseIndex[static_cast<size_t>(a)], caseIndex[static_cast<size_t>(b)]);
    const size_t F = entries.size();
    double* x = &points[static_cast<size_t>(a) * F];
    double* y = &points[static_cast<size_t>(b) * F];
    for (size_t j = 0; j < F; ++j) {
        std::swap(x[j], y[j]);
    }
}

// Orders the positions start ... start + count - 1 by case index, descending.
void KNNKdTree::SortEqualGroup(int start, int count) {
    if (count < 2) {
        return;
    }
    const int* idx = &caseIndex[static_cast<size_t>(start)];
    bool sorted = true;
    for (int i = 1; i < count && sorted; ++i) {
        sorted = idx[i - 1] > idx[i];
    }
    if (sorted) {
        return;
    }
    const size_t F = entries.size();
    sortKeys.resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        sortKeys[static_cast<size_t>(i)] = {idx[i], i};
    }
    std::sort(sortKeys.begin(), sortKeys.end(),
              [](const std::pair<int, int>& a, const std::pair<int, int>& b) {
                  return a.first > b.first;
              });
    double* block = &points[static_cast<size_t>(start) * F];
    sortRows.assign(block, block + static_cast<size_t>(count) * F);
    for (int i = 0; i < count; ++i) {
        const std::pair<int, int>& key = sortKeys[static_cast<size_t>(i)];
        caseIndex[static_cast<size_t>(start + i)] = key.first;
        std::copy_n(&sortRows[static_cast<size_t>(key.second) * F], F,
                    block + static_cast<size_t>(i) * F);
    }
}

}  // namespace KNN_800
