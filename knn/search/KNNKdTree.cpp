// kd-tree over the prepared data.
//
// Layout. The tree lives in flat arrays that survive from one build to the next (feature
// selection rebuilds once per candidate, so a warm build does not allocate):
//  - `nodes`: FlatNode records in depth-first order. A split's low child is the record right
//    after it, its high child is at `ref`; a leaf names a range of `caseIndex`. This is the tree
//    as defined (one case per leaf), used for the displays, the node views and the
//    node-by-node search. Most trees never need it, so a build keeps it only when the values
//    call for the checked search (or when asked, see EnsureNodes); otherwise it holds just
//    the records of the current path and block while the image is written.
//  - `caseIndex`: row indices of the built cases. The build reorders it in place, so when it
//    ends each leaf's cases are one contiguous range in the leaf's stored order.
//  - `points`: the feature values (data units) of the built cases, one row per case in the
//    order of `caseIndex`. The build moves these rows together with `caseIndex`, so its
//    partition passes read memory sequentially; the search reads a block's values from here,
//    where they lie in one run.
//  - `image`: the same tree for the fast search, with every subtree of at most 16 cases
//    (kMaxBlockCases) folded into a block: one head naming the block's range of `caseIndex`
//    and `points`, followed by its splits. BuildNode writes it as it goes. Larger blocks mean
//    fewer hard-to-predict branches per search and smaller ones fewer distances; 16 measured
//    best from 1 to 16 features. The values are not copied into the image, so that a build
//    on fresh memory touches as few new pages as it can.
//  - per feature position: weight, axis factor, continuous flag, the tree's bounds.
// `nodes`, `image` and `points` hold tens of bytes per case; they come from LargeBufferAllocator
// (LargeBuffer.h), which lets a first build on fresh memory fault in huge pages rather than 4 KB
// ones. The partition passes need one bit per case of scratch (ExchangePartition.h).
//
// Build invariants. Cell bounds are kept in scaled units (value times axis factor) while
// building and stored in data units in the nodes and in `bounds`. The categorical bounds of a
// cell depend only on the cases in it, so they are computed when a node is entered rather than
// saved and restored around the children; the continuous bounds of the split column are saved
// in the frame and restored after each child.
//
// Search. Distances stay in accumulated units (squared sums for Euclidean) until the list is
// finished. The traversal is the near-child-first recursion written as a loop over an explicit
// stack: a far child's bound depends only on the query and the node, so it is computed on the
// way down and pushed, and the far child is entered when it is popped - after its near
// sibling's subtree, exactly when the recursion would decide - if the admission threshold is
// then strictly above its bound. The threshold never grows, so a bound that already fails when
// pushed is dropped at once. The metric, whether any feature is categorical, whether overflow
// checks are needed and (for 2 to 4 continuous features) the feature count are fixed once per
// search by picking an instantiation of the kernel. When the built values, the weights and the
// query are all far from the overflow range (checked per search in O(features)), no square can
// overflow and every contribution is non-negative; the kernel then skips the overflow tests
// and tests the partial-distance cut-off once per case, since a partial sum exceeds the
// threshold exactly when the full sum does. Only then are blocks used (see SearchKernel);
// otherwise the search walks `nodes` one case per leaf with every test in place.
#include "knn/search/KNNKdTree.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <string>

#include "VelDisplay.h"
#include "VelMV.h"
#include "VelVarList.h"
#include "knn/base/StatusCodes.h"
#include "knn/data/IKNNVariable.h"
#include "knn/search/ExchangePartition.h"
#include "knn/settings/KNNSettings.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;
using namespace VelDisplay_940;

namespace {

constexpr double kTiny = 2.220446049250313e-16;  // 2^-52
// Below these magnitudes no weighted square or sum of them can overflow.
constexpr double kSmallValue = 1e100;
constexpr double kSmallWeight = 1e50;

}  // namespace

KNNKdTree::KNNKdTree(KNNDataPreparation* preparation)
    : preparation(preparation), rows(&preparation->Rows()) {
    const KNNSettings* settings = preparation->Settings();
    variableCount = preparation->Dictionary()->Size();
    euclidean = settings->DistMetric == 0;
    if (euclidean) {
        metric = std::make_unique<KNNEuclideanDis>();
    } else {
        metric = std::make_unique<KNNCityblockDis>();
    }
    weights.assign(static_cast<size_t>(variableCount), 1.0);
    foldColumn = settings->VFoldVariable;
    caseIdColumn = settings->CaseIDVariable;
    unbounded = -VelCommon_940::VelMV::Missing();
}

KNNKdTree::~KNNKdTree() = default;

void KNNKdTree::Clear() {
    built = false;
    nodesBuilt = false;
    nodes.clear();
    image.clear();
    caseIndex.clear();
    points.clear();
    caseCount = 0;
}

// ---------------------------------------------------------------------------------------------
// Build

bool KNNKdTree::ReadFeatures(const std::vector<int>& features) {
    entries.clear();
    categoricalColumns.clear();
    for (int v : features) {
        if (v < 0 || v >= variableCount) {
            return false;
        }
        const FeatureEntry entry = preparation->Entry(v);
        int categories = 0;
        if (!entry.continuous) {
            const std::vector<int>* counts =
                preparation->Variables()[static_cast<size_t>(v)]->GetCategoryCounts();
            categories = counts != nullptr ? static_cast<int>(counts->size()) : 0;
        }
        if (entry.column < 0 || entry.column >= variableCount) {
            return false;
        }
        entries.push_back(entry);
        if (!entry.continuous) {
            categoricalColumns.emplace_back(entry.column, categories);
        }
    }
    return true;
}

VelStatus KNNKdTree::Build(const std::vector<int>& features, int foldValue,
                           const std::vector<double>* featureWeights) {
    if (!status.IsOK()) {
        return status;
    }
    builtFeatures = features;
    builtFold = foldValue;
    if (!ReadFeatures(features)) {
        Clear();
        status = Error(Code::NotBuilt);
        return status;
    }
    const size_t F = entries.size();
    if (featureWeights != nullptr) {
        const size_t n = std::min(F, featureWeights->size());
        for (size_t j = 0; j < n; ++j) {
            weights[static_cast<size_t>(entries[j].column)] = (*featureWeights)[j];
        }
    }

    // Per feature position.
    featureSlot.resize(F);
    featureContinuous.resize(F);
    featureWeight.resize(F);
    featureFactor.resize(F);
    featureCategories.resize(F);
    featureLow.resize(F);
    featureHigh.resize(F);
    allContinuous = categoricalColumns.empty();
    int maxCategories = 0;
    for (size_t j = 0, cat = 0; j < F; ++j) {
        const int column = entries[j].column;
        const double w = weights[static_cast<size_t>(column)];
        featureContinuous[j] = entries[j].continuous ? 1 : 0;
        featureWeight[j] = w;
        featureFactor[j] =
            euclidean ? EuclideanMetric::AxisFactor(w) : CityBlockMetric::AxisFactor(w);
        featureCategories[j] = entries[j].continuous ? 0 : categoricalColumns[cat++].second;
        maxCategories = std::max(maxCategories, featureCategories[j]);
        featureSlot[j] = static_cast<int>(j);
        for (size_t i = 0; i < j; ++i) {
            if (entries[i].column == column) {
                featureSlot[j] = static_cast<int>(i);
                break;
            }
        }
    }
    categoryTally.resize(static_cast<size_t>(maxCategories));
    unitWeights =
        std::all_of(featureWeight.begin(), featureWeight.end(), [](double w) { return w == 1.0; });

    // Cases: every prepared row, or those outside the held-out fold.
    const std::vector<double*>& table = *rows;
    caseIndex.resize(table.size());
    std::iota(caseIndex.begin(), caseIndex.end(), 0);
    nodes.clear();
    bounds.assign(static_cast<size_t>(variableCount), {0.0, 0.0});
    if (foldColumn >= 0 && foldColumn < variableCount && foldValue != -1) {
        size_t kept = 0;
        for (size_t i = 0; i < table.size(); ++i) {
            if (std::fabs(table[i][foldColumn] - foldValue) > kTiny) {
                caseIndex[kept++] = static_cast<int>(i);
            }
        }
        caseIndex.resize(kept);
    }
    caseCount = static_cast<int>(caseIndex.size());

    // Feature values in case order, in one pass with the largest magnitude per feature and the
    // root cell: the range of the scaled values (categorical features get (factor, 0) when
    // the column varies, below; the same column twice takes its first feature's range).
    points.resize(static_cast<size_t>(caseCount) * F);
    featureMaxAbs.assign(F, 0.0);
    cellHigh.assign(F, 0.0);
    cellLow.assign(F, 0.0);
    for (int p = 0; p < caseCount; ++p) {
        const double* row = table[static_cast<size_t>(caseIndex[static_cast<size_t>(p)])];
        double* out = &points[static_cast<size_t>(p) * F];
        for (size_t j = 0; j < F; ++j) {
            const double v = row[entries[j].column];
            out[j] = v;
            const double magnitude = std::fabs(v);
            if (!(magnitude <= featureMaxAbs[j])) {
                featureMaxAbs[j] = magnitude;
            }
            const double scaled = featureFactor[j] * v;
            if (p == 0) {
                cellHigh[j] = scaled;
                cellLow[j] = scaled;
            }
            if (scaled > cellHigh[j]) {
                cellHigh[j] = scaled;
            }
            if (scaled < cellLow[j]) {
                cellLow[j] = scaled;
            }
        }
    }
    for (size_t j = 0; j < F; ++j) {
        if (featureSlot[j] != static_cast<int>(j) || !featureContinuous[j]) {
            cellHigh[j] = 0.0;
            cellLow[j] = 0.0;
        }
    }
    CategoricalBounds(0, caseCount);
    for (size_t j = 0; j < F; ++j) {
        bounds[static_cast<size_t>(entries[j].column)] = {cellHigh[j], cellLow[j]};
    }

    valuesAreSmall = true;
    for (size_t j = 0; j < F; ++j) {
        const double w = featureWeight[j];
        if (!(w >= 0.0 && w <= kSmallWeight)) {
            valuesAreSmall = false;
        }
    }
    for (size_t j = 0; j < F; ++j) {
        if (featureContinuous[j] && !(featureMaxAbs[j] <= kSmallValue)) {
            valuesAreSmall = false;
        }
    }

    // The node records are kept when asked for, or when searches must walk them because the
    // values do not rule out overflow; otherwise only the search image is built.
    maxDepth = 0;
    nodesBuilt = keepNodes || !valuesAreSmall;
    if (nodesBuilt) {
        nodes.reserve(2 * static_cast<size_t>(caseCount) + 1);
    }
    image.clear();
    image.reserve(static_cast<size_t>(caseCount) * 6 + 8);  // an upper bound
    BuildNode(0, caseCount, 0, false);
    built = true;

    // Bounds back in data units.
    for (int c = 0; c < variableCount; ++c) {
        const double w = weights[static_cast<size_t>(c)];
        const double f =
            euclidean ? EuclideanMetric::AxisFactor(w) : CityBlockMetric::AxisFactor(w);
        bounds[static_cast<size_t>(c)].first /= f;
        bounds[static_cast<size_t>(c)].second /= f;
    }
    for (size_t j = 0; j < F; ++j) {
        featureHigh[j] = bounds[static_cast<size_t>(entries[j].column)].first;
        featureLow[j] = bounds[static_cast<size_t>(entries[j].column)].second;
    }

    pending.resize(static_cast<size_t>(maxDepth) + 2);
    queryFeatures.resize(F);
    treeTolerance = RoundingTolerance(false);
    return status;
}

// The image the block search walks (written by BuildNode as it goes): the built tree with every
// subtree of at most kMaxBlockCases cases (under a parent with more) folded into one block, laid
// out depth first in one array of 8-byte slots so that a descent reads runs of memory:
//  - every node starts with a NodeHead slot;
//  - a split continues with cut, high bound and low bound; its low child follows at +4, its
//    high child is at head.ref;
//  - a block has head = (~(cases | kBlockLeaf), first slot of caseIndex and `points`) and
//    continues with its splits in depth-first order, two slots each (cut, BlockSplit);
//  - a leaf of the built tree above the blocks keeps head = (~cases, first slot of caseIndex).

namespace {

template <class T>
double AsSlot(const T& value) {
    static_assert(sizeof(T) == sizeof(double));
    double slot;
    std::memcpy(&slot, &value, sizeof slot);
    return slot;
}

template <class T>
T FromSlot(const double* slot) {
    T value;
    std::memcpy(&value, slot, sizeof value);
    return value;
}

}  // namespace

bool KNNKdTree::CellIsFlat() const {
    for (size_t j = 0; j < entries.size(); ++j) {
        const size_t s = static_cast<size_t>(featureSlot[j]);
        if (!(std::fabs(cellHigh[s] - cellLow[s]) <= kTiny)) {
            return false;
        }
    }
    return true;
}

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

int KNNKdTree::BuildCell(int start, int count, int depth, bool inBlock) {
    maxDepth = std::max(maxDepth, depth);
    const int self = static_cast<int>(nodes.size());
    const auto makeLeaf = [&]() {
        nodes.push_back(FlatNode{0.0, 0.0, 0.0, start, ~count});
        if (!inBlock) {
            image.push_back(AsSlot(NodeHead{~count, start}));
        }
        return self;
    };
    // Writes the split just pushed and its children (lowCount cases low), into `nodes` and into
    // the image: above the blocks as a split node, inside a block as a block split, the
    // block's root first writing the block's head.
    const auto makeSplit = [&](int lowCount, auto&& buildLow, auto&& buildHigh) {
        const FlatNode split = nodes.back();
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
        buildLow(below);
        const size_t imageHigh = image.size();
        const int high = buildHigh(below);
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
    };
    if (count <= bucketSize) {
        return makeLeaf();
    }
    if (!allContinuous && depth > 0) {
        CategoricalBounds(start, count);
    }
    if (CellIsFlat()) {
        return makeLeaf();
    }

    const size_t F = entries.size();
    const double* base = &points[static_cast<size_t>(start) * F];
    const auto swap = [this](int a, int b) { SwapSlots(a, b); };
    double maxSpread = -std::numeric_limits<double>::infinity();
    for (size_t j = 0; j < F; ++j) {
        const size_t s = static_cast<size_t>(featureSlot[j]);
        const double spread = cellHigh[s] - cellLow[s];
        if (spread > maxSpread) {
            maxSpread = spread;
        }
    }
    const double limit = 0.999 * maxSpread;
    const auto isCandidate = [&](size_t j) {
        const size_t s = static_cast<size_t>(featureSlot[j]);
        return cellHigh[s] - cellLow[s] >= limit;
    };

    // Continuous candidates: the one whose cases spread widest (scaled) is split.
    int best = -1;
    double bestSpread = -1.0;
    double bestMin = 0.0;
    double bestMax = 0.0;
    for (size_t j = 0; j < F; ++j) {
        if (!featureContinuous[j] || !isCandidate(j)) {
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

    if (best >= 0) {
        const size_t j = static_cast<size_t>(best);
        const size_t s = static_cast<size_t>(featureSlot[j]);
        const double f = featureFactor[j];
        const double ideal = (cellHigh[s] + cellLow[s]) * 0.5;
        const double lo = std::min(f * bestMin, f * bestMax);
        const double hi = std::max(f * bestMin, f * bestMax);
        const double cut = lo > ideal ? lo : (ideal > hi ? hi : ideal);

        // Three groups: scaled value below, equal to and above the cut.
        const int end = start + count;
        const auto value = [&](int p) { return f * points[static_cast<size_t>(p) * F + j]; };
        const int br1 = ExchangePartition(
            start, end, [&](int p) { return value(p) < cut; }, swap, exchangeBits);
        const int br2 =
            br1 + ExchangePartition(
                      start + br1, end, [&](int p) { return value(p) <= cut; }, swap, exchangeBits);
        SortEqualGroup(start + br1, br2 - br1);

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
            return makeLeaf();
        }

        nodes.push_back(FlatNode{cut / f, cellHigh[s] / f, cellLow[s] / f, 0, best});
        const double savedHigh = cellHigh[s];
        const double savedLow = cellLow[s];
        return makeSplit(
            lowCount,
            [&](bool below) {
                cellHigh[s] = cut;
                BuildNode(start, lowCount, depth + 1, below);
                cellHigh[s] = savedHigh;
            },
            [&](bool below) {
                cellLow[s] = cut;
                const int high = BuildNode(start + lowCount, count - lowCount, depth + 1, below);
                cellLow[s] = savedLow;
                return high;
            });
    }

    // Only categorical candidates: split off the category holding closest to half the cases.
    double bestScore = -1.0;
    int bestCategory = -1;
    for (size_t j = 0; j < F; ++j) {
        if (featureContinuous[j] || !isCandidate(j)) {
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
        return makeLeaf();
    }
    const size_t j = static_cast<size_t>(best);
    const double u = bestCategory;
    const int end = start + count;
    const auto differs = [&](int p) {
        return std::fabs(points[static_cast<size_t>(p) * F + j] - u) > kTiny;
    };
    const int lowCount = ExchangePartition(start, end, differs, swap, exchangeBits);
    if (lowCount < 1 || lowCount >= count) {
        return makeLeaf();
    }
    const size_t s = static_cast<size_t>(featureSlot[j]);
    nodes.push_back(
        FlatNode{u / 1.0, cellHigh[s] / 1.0, cellLow[s] / 1.0, 0, best | kCategoricalSplit});
    return makeSplit(
        lowCount, [&](bool below) { BuildNode(start, lowCount, depth + 1, below); },
        [&](bool below) {
            return BuildNode(start + lowCount, count - lowCount, depth + 1, below);
        });
}

// Repeats the last build with the node records kept; the build is deterministic, so the tree
// (case order, image) comes out the same. Whether `nodes` now holds the tree.
bool KNNKdTree::EnsureNodes() {
    if (built && !nodesBuilt) {
        const std::vector<int> features = builtFeatures;
        keepNodes = true;
        Build(features, builtFold, nullptr);
        keepNodes = false;
    }
    return built && nodesBuilt;
}

// ---------------------------------------------------------------------------------------------
// Search

namespace {

enum SearchOutcome { kFound, kOverflow, kUndecided };

// Accumulated distance of one stored case, contributions in feature order (no overflow test:
// only used when the values rule overflow out). With UnitWeights every weight is 1, and a
// product by 1 is exact, so leaving it out changes nothing.
template <class Metric, bool AllContinuous, bool UnitWeights = false>
inline double CaseDistance(const double* q, const double* x, const double* w,
                           const uint8_t* continuous, size_t F) {
    double sum = 0.0;
    for (size_t j = 0; j < F; ++j) {
        double d = q[j] - x[j];
        if (AllContinuous || continuous[j]) {
            sum += Metric::SquareUnchecked(d, UnitWeights ? 1.0 : w[j]);
        } else {
            if (d != 0.0) {
                d = 2.0;
            }
            sum += Metric::Linear(d, w[j]);
        }
    }
    return sum;
}

}  // namespace

// Whether the query, like the built values, rules overflow out; `inside` tells whether it also
// lies within the built values' magnitudes, so that the tree's own rounding tolerance applies.
bool KNNKdTree::QueryIsSafe(bool& inside) const {
    inside = true;
    for (size_t j = 0; j < entries.size(); ++j) {
        if (featureContinuous[j]) {
            const double magnitude = std::fabs(queryFeatures[j]);
            if (!(magnitude <= kSmallValue)) {
                return false;
            }
            inside &= magnitude <= featureMaxAbs[j];
        }
    }
    return true;
}

// An upper bound on how far rounding can lift a computed far-child bound above the computed
// distance of a case inside that child. Each of at most 2F + 9 * depth + 32 roundings along a
// path errs by at most 2^-53 times the largest sum any path can reach, which is below U (every
// axis at the largest offset the query and the stored values allow); a factor 4 covers the
// higher-order terms with room to spare. Without `forQuery`, for a query inside the built
// values' magnitudes (computed once per build).
double KNNKdTree::RoundingTolerance(bool forQuery) const {
    double largest = 0.0;
    for (size_t j = 0; j < entries.size(); ++j) {
        const double w = featureWeight[j];
        if (featureContinuous[j]) {
            const double q = forQuery ? std::fabs(queryFeatures[j]) : 0.0;
            const double r = std::max(q, featureMaxAbs[j]) * (1.0 + 1e-12);
            largest += euclidean ? 4.0 * r * r * w : 2.0 * r * w;
        } else {
            largest += 2.0 * w;
        }
    }
    const double roundings = 2.0 * static_cast<double>(entries.size()) + 9.0 * maxDepth + 32.0;
    return roundings * std::ldexp(1.0, -53) * largest * 4.0;
}

template <class Metric, bool Checked>
bool KNNKdTree::RootBound(double& bound) const {
    double b = 0.0;
    for (size_t j = 0; j < entries.size(); ++j) {
        if (!featureContinuous[j]) {
            continue;
        }
        const double qv = queryFeatures[j];
        double c = 0.0;
        double offset;
        if (featureLow[j] > qv) {
            offset = featureLow[j] - qv;
        } else if (qv > featureHigh[j]) {
            offset = qv - featureHigh[j];
        } else {
            continue;
        }
        if constexpr (Checked) {
            if (!Metric::Square(offset, featureWeight[j], c)) {
                return false;
            }
        } else {
            c = Metric::SquareUnchecked(offset, featureWeight[j]);
        }
        b += c;
    }
    bound = b;
    return true;
}

// Blocks. With `Blocks` the walk uses `image`, and at a block all its cases are measured at
// once; those at or below the admission threshold (candidates) are then inserted. The result
// must be that of the node-by-node descent, which reaches the block's cases near child first
// and may prune some of them. Why the block gives the same list:
//  - In descent order, a case the descent would have pruned at a split v has a distance at
//    least the bound computed at v, which is at least the threshold then, which is at least the
//    threshold now; so it is rejected or lands in the scratch slot, and changes nothing. That
//    holds up to rounding: RoundingTolerance() bounds by how much a computed bound can exceed
//    a computed distance, and a case that would enter a full list with a distance within that
//    margin below the threshold makes the search undecided; it is then repeated node by node.
//  - Several candidates with pairwise different distances are first inserted in stored order,
//    which fills the list with the K smallest distances just the same. A case the descent would
//    have pruned can only end up in that list if some other distance involved lies above its
//    own by at most the margin (the K cases that made the threshold at v were all at most its
//    distance plus the margin). So when the list is full afterwards and either two of its
//    entries or the list's last entry and a distance that fell out lie that close, the block is
//    undone and done again in descent order as above. Equal distances among candidates go to
//    descent order directly, since their order in the list is the descent's.
// The descent order of a block's cases is computed from its stored splits (descentRank).
template <class Metric, bool Checked, bool AllContinuous, bool Blocks, int FixedFeatures,
          bool UnitWeights>
int KNNKdTree::SearchKernel(const double* query, bool includeSelf, double tolerance) {
    double bound = 0.0;
    if (!RootBound<Metric, Checked>(bound)) {
        return kOverflow;
    }
    const FlatNode* const tree = nodes.data();
    const double* const img = image.data();
    const double* const q = queryFeatures.data();
    const double* const w = featureWeight.data();
    const double* const factor = featureFactor.data();
    const uint8_t* const continuous = featureContinuous.data();
    const double* const pts = points.data();
    const int* const cases = caseIndex.data();
    const size_t F = FixedFeatures > 0 ? static_cast<size_t>(FixedFeatures) : entries.size();
    Neighbor* const e = list->entries.data();
    Neighbor* const saved = snapshot.data();
    const int k = list->k;
    int count = 0;
    double threshold = unbounded;
    PendingNode* const stack = pending.data();
    int top = 0;
    int32_t n = 0;

    const auto isSelf = [&](double sum, int caseRow) {
        return !includeSelf && sum == 0.0 && caseIdColumn >= 0 &&
               query[caseIdColumn] ==
                   std::trunc((*rows)[static_cast<size_t>(caseRow)][caseIdColumn]);
    };
    const auto insert = [&](double sum, int caseRow) {
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
    };
    // Position of a block's r-th case among its cases in descent order (near child first),
    // from the block's splits at `split`.
    const auto descentRank = [&](const double* split, int size, int r) {
        int rank = 0;
        int start = 0;
        int cases = size;
        for (;;) {
            const BlockSplit s = FromSlot<BlockSplit>(split + 1);
            const int j = s.info & kFeatureMask;
            const bool highNear = (AllContinuous || (s.info & kCategoricalSplit) == 0)
                                      ? (q[j] - split[0]) * factor[j] >= 0.0
                                      : q[j] == split[0];
            const bool inHigh = r >= start + s.lowCases;
            if (inHigh != highNear) {
                rank += highNear ? cases - s.lowCases : s.lowCases;
            }
            if (inHigh) {
                start += s.lowCases;
                cases -= s.lowCases;
                if (!s.highIsSplit) {
                    break;
                }
                split += 2 * (1 + s.lowSplits);
            } else {
                cases = s.lowCases;
                if (!s.lowIsSplit) {
                    break;
                }
                split += 2;
            }
        }
        return rank + (r - start);
    };

    for (;;) {
        // Down the near children, pushing each far child with its bound.
        int32_t info;
        int32_t ref;
        for (;;) {
            double cut;
            double highBound;
            double lowBound;
            int32_t lowChild;
            if constexpr (Blocks) {
                const NodeHead head = FromSlot<NodeHead>(img + n);
                info = head.info;
                ref = head.ref;
                if (info < 0) {
                    break;
                }
                __builtin_prefetch(img + ref);
                cut = img[n + 1];
                highBound = img[n + 2];
                lowBound = img[n + 3];
                lowChild = n + 4;
            } else {
                const FlatNode& node = tree[n];
                info = node.info;
                ref = node.ref;
                if (info < 0) {
                    break;
                }
                cut = node.cut;
                highBound = node.highBound;
                lowBound = node.lowBound;
                lowChild = n + 1;
            }
            const int j = info & kFeatureMask;
            const double qv = q[j];
            int32_t nearChild;
            int32_t farChild;
            double farBound;
            if (AllContinuous || (info & kCategoricalSplit) == 0) {
                const double diff = qv - cut;
                const bool highNear = diff * factor[j] >= 0.0;
                nearChild = highNear ? ref : lowChild;
                farChild = highNear ? lowChild : ref;
                double added;
                double removed = 0.0;
                if constexpr (Checked) {
                    if (!Metric::Square(diff, w[j], added)) {
                        return kOverflow;
                    }
                    if (qv > highBound) {
                        if (!Metric::Square(qv - highBound, w[j], removed)) {
                            return kOverflow;
                        }
                    } else if (qv < lowBound) {
                        if (!Metric::Square(lowBound - qv, w[j], removed)) {
                            return kOverflow;
                        }
                    }
                } else {
                    const double wj = UnitWeights ? 1.0 : w[j];
                    added = Metric::SquareUnchecked(diff, wj);
                    if (qv > highBound) {
                        removed = Metric::SquareUnchecked(qv - highBound, wj);
                    } else if (qv < lowBound) {
                        removed = Metric::SquareUnchecked(lowBound - qv, wj);
                    }
                }
                farBound = (bound + added) - removed;
            } else {
                const bool match = qv == cut;
                nearChild = match ? ref : lowChild;
                farChild = match ? lowChild : ref;
                farBound = (bound + Metric::SquareUnchecked(match ? 0.5 : -0.5, w[j])) - 0.0;
            }
            if (threshold > farBound) {
                stack[top].node = farChild;
                stack[top].bound = farBound;
                ++top;
            }
            n = nearChild;
        }

        if (Blocks && (~info & kBlockLeaf) != 0) {
            // A block: measure every case, then insert the candidates (see the note above).
            const int size = ~info & ~kBlockLeaf;
            const double* const record = pts + static_cast<size_t>(ref) * F;
            const int* const rowOf = cases + ref;
            const double* const splits = img + n + 1;
            double distance[kMaxBlockCases];
            unsigned candidates = 0;
            const double* x = record;
            for (int i = 0; i < size; ++i, x += F) {
                distance[i] =
                    CaseDistance<Metric, AllContinuous, UnitWeights>(q, x, w, continuous, F);
                candidates |= (distance[i] <= threshold ? 1u : 0u) << i;
            }
            // Several candidates are first taken in stored order, which gives the descent order's
            // result unless two distances involved tie or a case the descent would have pruned
            // got in. Both show in the list afterwards as two entries, or the last entry and a
            // distance that fell out, at most `tolerance` apart (see the note above); the block
            // is then undone and redone in descent order.
            const bool several = (candidates & (candidates - 1)) != 0;
            bool inDescentOrder = !several && candidates != 0;
            if (several) {
                const int savedCount = count;
                const double savedThreshold = threshold;
                std::copy_n(e, count, saved);
                double left[2 * kMaxBlockCases];  // distances that ended outside the list
                int leftCount = 0;
                for (unsigned bits = candidates; bits != 0; bits &= bits - 1) {
                    const int i = __builtin_ctz(bits);
                    const double sum = distance[i];
                    const int caseRow = rowOf[i];
                    if (isSelf(sum, caseRow)) {
                        continue;
                    }
                    if (sum > threshold) {
                        left[leftCount++] = sum;
                        continue;
                    }
                    const bool full = count == k;
                    insert(sum, caseRow);
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
                if (nearTie) {
                    count = savedCount;
                    threshold = savedThreshold;
                    std::copy_n(saved, count, e);
                    inDescentOrder = true;
                }
            }
            if (inDescentOrder) {
                int8_t order[kMaxBlockCases];
                int ordered = 0;
                if (!several) {
                    order[ordered++] = static_cast<int8_t>(__builtin_ctz(candidates));
                } else {
                    int8_t byRank[kMaxBlockCases];
                    std::fill_n(byRank, size, static_cast<int8_t>(-1));
                    for (unsigned bits = candidates; bits != 0; bits &= bits - 1) {
                        const int i = __builtin_ctz(bits);
                        byRank[descentRank(splits, size, i)] = static_cast<int8_t>(i);
                    }
                    for (int r = 0; r < size; ++r) {
                        if (byRank[r] >= 0) {
                            order[ordered++] = byRank[r];
                        }
                    }
                }
                for (int t = 0; t < ordered; ++t) {
                    const int i = order[t];
                    const double sum = distance[i];
                    const int caseRow = rowOf[i];
                    if (sum > threshold || isSelf(sum, caseRow)) {
                        continue;
                    }
                    if (count == k && sum < threshold && sum >= threshold - tolerance) {
                        return kUndecided;
                    }
                    insert(sum, caseRow);
                }
            }
        } else {
            // Leaf scan.
            const int first = ref;
            const int last = first + ~info;
            for (int p = first; p < last; ++p) {
                const double* x = pts + static_cast<size_t>(p) * F;
                double sum = 0.0;
                if constexpr (Checked) {
                    bool abandoned = false;
                    for (size_t j = 0; j < F; ++j) {
                        double d = q[j] - x[j];
                        double c;
                        if (AllContinuous || continuous[j]) {
                            if (!Metric::Square(d, w[j], c)) {
                                return kOverflow;
                            }
                        } else {
                            if (d != 0.0) {
                                d = 2.0;
                            }
                            c = Metric::Linear(d, w[j]);
                        }
                        sum += c;
                        if (sum > threshold) {
                            abandoned = true;
                            break;
                        }
                    }
                    if (abandoned) {
                        continue;
                    }
                } else {
                    sum = CaseDistance<Metric, AllContinuous, UnitWeights>(q, x, w, continuous, F);
                    if (sum > threshold) {
                        continue;
                    }
                }
                if (!isSelf(sum, cases[p])) {
                    insert(sum, cases[p]);
                }
            }
        }

        // Next far child that can still hold a closer case.
        for (;;) {
            if (top == 0) {
                list->count = count;
                return kFound;
            }
            const PendingNode& next = stack[--top];
            if (threshold > next.bound) {
                n = next.node;
                bound = next.bound;
                break;
            }
        }
    }
}

// The block kernel for Features continuous features, without the products by the weights when
// they are all 1 (as in feature selection and cross-validation without weighting).
template <class Metric, int Features>
int KNNKdTree::FixedKernel(const double* query, bool includeSelf, double tolerance) {
    if (unitWeights) {
        return SearchKernel<Metric, false, true, true, Features, true>(query, includeSelf,
                                                                       tolerance);
    }
    return SearchKernel<Metric, false, true, true, Features, false>(query, includeSelf, tolerance);
}

template <class Metric, bool AllContinuous>
int KNNKdTree::RunSearch(const double* query, bool includeSelf) {
    bool inside = false;
    if (!(valuesAreSmall && QueryIsSafe(inside))) {
        if (!EnsureNodes()) {
            return kOverflow;  // cannot happen: a built tree can always be built again
        }
        return SearchKernel<Metric, true, AllContinuous, false, 0>(query, includeSelf, 0.0);
    }
    // Few continuous features: a kernel with the feature count built in.
    const auto blocks = [&](double tolerance) {
        if constexpr (AllContinuous) {
            switch (entries.size()) {
                case 1:
                    return FixedKernel<Metric, 1>(query, includeSelf, tolerance);
                case 2:
                    return FixedKernel<Metric, 2>(query, includeSelf, tolerance);
                case 3:
                    return FixedKernel<Metric, 3>(query, includeSelf, tolerance);
                case 4:
                    return FixedKernel<Metric, 4>(query, includeSelf, tolerance);
                case 5:
                    return FixedKernel<Metric, 5>(query, includeSelf, tolerance);
                default:
                    break;
            }
        }
        return SearchKernel<Metric, false, AllContinuous, true, 0>(query, includeSelf, tolerance);
    };
    const int outcome = blocks(inside ? treeTolerance : RoundingTolerance(true));
    if (outcome != kUndecided) {
        return outcome;
    }
    ++undecidedSearches;
    if (!EnsureNodes()) {
        return kOverflow;
    }
    return SearchKernel<Metric, false, AllContinuous, false, 0>(query, includeSelf, 0.0);
}

NeighborList* KNNKdTree::Search(const double* query, int K, bool includeSelf) {
    if (list == nullptr || list->k != K) {
        list = std::make_unique<NeighborList>();
        list->k = K;
        list->entries.assign(static_cast<size_t>(std::max(K + 1, 0)), Neighbor{});
        snapshot.resize(list->entries.size());
        currentK = K;
    }
    list->count = 0;
    if (!built || K < 1 || query == nullptr) {
        return list.get();
    }
    for (size_t j = 0; j < entries.size(); ++j) {
        queryFeatures[j] = query[entries[j].column];
    }
    int outcome;
    if (euclidean) {
        outcome = allContinuous ? RunSearch<EuclideanMetric, true>(query, includeSelf)
                                : RunSearch<EuclideanMetric, false>(query, includeSelf);
    } else {
        outcome = allContinuous ? RunSearch<CityBlockMetric, true>(query, includeSelf)
                                : RunSearch<CityBlockMetric, false>(query, includeSelf);
    }
    if (outcome != kFound) {
        list->count = 0;
        return list.get();
    }
    for (Neighbor& entry : list->entries) {
        entry.distance = euclidean ? EuclideanMetric::Finish(entry.distance)
                                   : CityBlockMetric::Finish(entry.distance);
    }
    return list.get();
}

VelStatus KNNKdTree::NoNeighbourStatus(const double* query) const {
    VelStatus result = Error(Code::NoNeighbour);
    const int column = ColumnTooLargeForDistance(query);
    if (column >= 0) {
        std::string name;
        preparation->Dictionary()->GetVarAt(column)->GetName(name);
        result.SetMessage("a value of the field '" + name +
                          "' is too large for a distance: the difference between two of its "
                          "values" +
                          (euclidean ? ", or its square," : "") + " cannot be represented");
        result.SetDiscreteDatum(0, column);
    }
    return result;
}

int KNNKdTree::ColumnTooLargeForDistance(const double* query) const {
    const size_t F = entries.size();
    double total = 0.0;
    double largest = 0.0;
    int largestColumn = -1;
    for (size_t j = 0; j < F; ++j) {
        if (!featureContinuous[j]) {
            continue;
        }
        // The widest difference along the feature: between its smallest and largest value
        // among the built cases and the query.
        double low = query[entries[j].column];
        double high = low;
        for (size_t p = 0; p < static_cast<size_t>(caseCount); ++p) {
            low = std::min(low, points[p * F + j]);
            high = std::max(high, points[p * F + j]);
        }
        double contribution = 0.0;
        const bool represented =
            euclidean ? EuclideanMetric::Square(high - low, featureWeight[j], contribution)
                      : CityBlockMetric::Square(high - low, featureWeight[j], contribution);
        if (!represented || !(contribution <= DBL_MAX)) {
            return entries[j].column;
        }
        total += contribution;
        if (contribution > largest) {
            largest = contribution;
            largestColumn = entries[j].column;
        }
    }
    return total <= DBL_MAX ? -1 : largestColumn;
}

// ---------------------------------------------------------------------------------------------
// Views and diagnostics

std::vector<int> KNNKdTree::LeafCases(const FlatNode& node) const {
    const auto first = caseIndex.begin() + node.ref;
    return std::vector<int>(first, first + ~node.info);
}

KNNKdTree::NodeView KNNKdTree::Node(int position) {
    EnsureNodes();
    NodeView view;
    const FlatNode& node = nodes.at(static_cast<size_t>(position));
    if (node.info < 0) {
        view.cases = LeafCases(node);
        return view;
    }
    const int j = node.info & kFeatureMask;
    view.leaf = false;
    view.column = entries[static_cast<size_t>(j)].column;
    view.continuous = (node.info & kCategoricalSplit) == 0;
    view.cut = node.cut;
    view.highBound = node.highBound;
    view.lowBound = node.lowBound;
    view.low = position + 1;
    view.high = node.ref;
    return view;
}

void KNNKdTree::ShowPoints() const {
    const size_t width = static_cast<size_t>(variableCount);
    for (int row : caseIndex) {
        const double* values = (*rows)[static_cast<size_t>(row)];
        DisplayDV("one point", std::vector<double>(values, values + width));
    }
}

void KNNKdTree::ShowBoundsAndDescription() const {
    DisplayText(0, "Bound display");
    DisplayVPD("Bound", bounds);
    DisplayText(0, "Bound display end");
    DisplayText(0, "Tree discription");
    DisplayI("Tree number", caseCount);
    DisplayI("Point size", variableCount);
    DisplayI("bucket size", bucketSize);
    DisplayText(0, "Tree discription end");
}

// Node numbers follow heap order: root 0, children of n at 2n + 1 and 2n + 2.
void KNNKdTree::ShowNode(int position, uint32_t number, int depth) const {
    std::string indent = "    ";
    for (int i = 0; i < depth; ++i) {
        indent += "..";
    }
    const FlatNode& node = nodes[static_cast<size_t>(position)];
    const int shown = static_cast<int>(number);
    if (node.info < 0) {
        DisplayI((indent + "Leaf n").c_str(), ~node.info);
        DisplayI("Node Num", shown);
        DisplayIV("Leaves are", LeafCases(node));
        return;
    }
    DisplayI((indent + "Node Num").c_str(), shown);
    DisplayI("Split cd", entries[static_cast<size_t>(node.info & kFeatureMask)].column);
    DisplayD("cv", node.cut);
    DisplayD("lbnd", node.lowBound);
    DisplayD("hbnd", node.highBound);
    ShowNode(position + 1, 2 * number + 1, depth + 1);
    ShowNode(node.ref, 2 * number + 2, depth + 1);
}

void KNNKdTree::DumpNode(int position) const {
    const FlatNode& node = nodes[static_cast<size_t>(position)];
    if (node.info < 0) {
        DisplayText(0, "Dump the entire leaves start");
        DisplayI("The leaves numbers are", ~node.info);
        DisplayIV("The leaves are", LeafCases(node));
        DisplayText(0, "End of dump the entire leaves");
        return;
    }
    DisplayI("Split", entries[static_cast<size_t>(node.info & kFeatureMask)].column);
    DisplayD("cv", node.cut);
    DisplayD("lbnd", node.lowBound);
    DisplayD("hbnd", node.highBound);
    DumpNode(position + 1);
    DumpNode(node.ref);
}

void KNNKdTree::Display() {
    EnsureNodes();
    DisplayText(0, "Display all used points");
    ShowPoints();
    DisplayText(0, "Points display end");
    ShowBoundsAndDescription();
    if (nodes.empty()) {
        DisplayText(0, "Tree status");
        DisplayText(0, "  Null tree.");
        return;
    }
    ShowNode(0, 0, 0);
}

void KNNKdTree::DisplayPoints(bool showPoints) const {
    if (showPoints) {
        DisplayText(0, "All used points");
        ShowPoints();
    }
    if (nodes.empty()) {
        DisplayText(0, "Tree status");
        DisplayText(0, "    Null tree.");
        return;
    }
    ShowNode(0, 0, 0);
}

void KNNKdTree::DisplayTree(bool showPoints) {
    EnsureNodes();
    if (showPoints) {
        DisplayText(0, "All used points");
        ShowPoints();
        DisplayText(0, "Points display end");
    }
    ShowBoundsAndDescription();
    if (nodes.empty()) {
        DisplayText(0, "Tree status");
        DisplayText(0, "  Null tree.");
        return;
    }
    DumpNode(0);
}

}  // namespace KNN_800
