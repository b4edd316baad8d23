// Searching the kd-tree: the query's values per feature, the choice of walk for each search,
// the rounding margin of the block walk, and the status of a search that overflowed. The walks
// are in SearchKernel.h.
//
// The choice. When the built values, the weights and the query are all far from the overflow
// range (checked per search in O(features)), no square can overflow and every contribution is
// non-negative; the walk then needs no overflow tests and can test the partial-distance cut-off
// once per case, since a partial sum exceeds the threshold exactly when the full sum does. Only
// then is the search image with its blocks walked, and a search the block walk cannot settle
// is repeated on the node records; otherwise the node records are walked with every test in
// place. The metric, whether any feature is categorical and, for 1 to 5 continuous features,
// their count and whether all weights are 1 pick the kernel's instantiation.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <string>

#include "VelVarList.h"
#include "knn/base/StatusCodes.h"
#include "knn/search/kdtree/KNNKdTree.h"
#include "knn/search/kdtree/SearchKernel.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;
using namespace kdtree;

namespace {

// The block walk with the feature count built in, without the products by the weights when
// they are all 1 (as in feature selection and cross-validation without weighting).
template <class Metric, int Count>
SearchOutcome FixedBlockSearch(const KNNKdTree& tree, KNNKdTree::SearchScratch& scratch,
                               const KernelQuery& query, bool unitWeights) {
    if (unitWeights) {
        return SearchKernel<Metric, Walk::kBlocks, FeatureForm<true, Count, true>>::Run(
            tree, scratch, query);
    }
    return SearchKernel<Metric, Walk::kBlocks, FeatureForm<true, Count, false>>::Run(tree, scratch,
                                                                                     query);
}

// The block walk; for 1 to 5 continuous features a kernel with their count built in.
template <class Metric, bool AllContinuous>
SearchOutcome BlockSearch(const KNNKdTree& tree, KNNKdTree::SearchScratch& scratch,
                          const KernelQuery& query, size_t featureCount, bool unitWeights) {
    if constexpr (AllContinuous) {
        switch (featureCount) {
            case 1:
                return FixedBlockSearch<Metric, 1>(tree, scratch, query, unitWeights);
            case 2:
                return FixedBlockSearch<Metric, 2>(tree, scratch, query, unitWeights);
            case 3:
                return FixedBlockSearch<Metric, 3>(tree, scratch, query, unitWeights);
            case 4:
                return FixedBlockSearch<Metric, 4>(tree, scratch, query, unitWeights);
            case 5:
                return FixedBlockSearch<Metric, 5>(tree, scratch, query, unitWeights);
            default:
                break;
        }
    }
    return SearchKernel<Metric, Walk::kBlocks, FeatureForm<AllContinuous>>::Run(tree, scratch,
                                                                                query);
}

}  // namespace

NeighborList* KNNKdTree::Search(const double* query, int K, bool includeSelf) {
    Found found = SearchWith(own, query, K, includeSelf);
    if (found == Found::kNeedsNodes) {
        // The rebuild that makes the node records gives the same tree; the search is then
        // repeated with them.
        found = EnsureNodes() ? SearchWith(own, query, K, includeSelf) : Found::kNo;
    }
    if (found != Found::kYes) {
        own.list.count = 0;
    }
    return &own.list;
}

NeighborList* KNNKdTree::SearchShared(SearchScratch& scratch, const double* query, int K,
                                      bool includeSelf) const {
    const Found found = SearchWith(scratch, query, K, includeSelf);
    if (found == Found::kNeedsNodes) {
        return nullptr;
    }
    if (found != Found::kYes) {
        scratch.list.count = 0;
    }
    return &scratch.list;
}

KNNKdTree::Found KNNKdTree::SearchWith(SearchScratch& scratch, const double* query, int K,
                                       bool includeSelf) const {
    NeighborList& list = scratch.list;
    if (list.entries.empty() || list.k != K) {
        list.k = K;
        list.entries.assign(static_cast<size_t>(std::max(K + 1, 0)), Neighbor{});
        scratch.snapshot.resize(list.entries.size());
    }
    list.count = 0;
    if (!built || K < 1 || query == nullptr) {
        return Found::kNo;
    }
    // The tree's own scratch is sized by the build; another one on its first search of a
    // deeper or wider tree.
    if (scratch.pending.size() < static_cast<size_t>(maxDepth) + 2) {
        scratch.pending.resize(static_cast<size_t>(maxDepth) + 2);
    }
    if (scratch.queryFeatures.size() < entries.size()) {
        scratch.queryFeatures.resize(entries.size());
    }
    double* q = scratch.queryFeatures.data();
    for (size_t j = 0; j < entries.size(); ++j) {
        q[j] = query[entries[j].column];
    }
    Found found;
    if (euclidean) {
        found = allContinuous ? RunSearch<EuclideanMetric, true>(scratch, query, includeSelf)
                              : RunSearch<EuclideanMetric, false>(scratch, query, includeSelf);
    } else {
        found = allContinuous ? RunSearch<CityBlockMetric, true>(scratch, query, includeSelf)
                              : RunSearch<CityBlockMetric, false>(scratch, query, includeSelf);
    }
    if (found != Found::kYes) {
        return found;
    }
    for (Neighbor& entry : list.entries) {
        entry.distance = euclidean ? EuclideanMetric::Finish(entry.distance)
                                   : CityBlockMetric::Finish(entry.distance);
    }
    return Found::kYes;
}

// Fills scratch.list for the query in scratch.queryFeatures; kNo when a square overflowed,
// kNeedsNodes when the walk needs the node records and the build left them out.
template <class Metric, bool AllContinuous>
KNNKdTree::Found KNNKdTree::RunSearch(SearchScratch& scratch, const double* query,
                                      bool includeSelf) const {
    using Form = FeatureForm<AllContinuous>;
    const double* q = scratch.queryFeatures.data();
    auto found = [](SearchOutcome outcome) { return outcome == kFound ? Found::kYes : Found::kNo; };
    bool inside = false;
    double bound = 0.0;
    if (!(valuesAreSmall && QueryIsSafe(q, inside))) {
        if (!nodesBuilt) {
            return Found::kNeedsNodes;
        }
        if (!RootBound<Metric, true>(q, bound)) {
            return Found::kNo;
        }
        const KernelQuery checked{query, includeSelf, bound, 0.0};
        return found(SearchKernel<Metric, Walk::kCheckedNodes, Form>::Run(*this, scratch, checked));
    }
    RootBound<Metric, false>(q, bound);
    const double tolerance = inside ? treeTolerance : RoundingTolerance(q);
    const KernelQuery blocks{query, includeSelf, bound, tolerance};
    const SearchOutcome outcome =
        BlockSearch<Metric, AllContinuous>(*this, scratch, blocks, entries.size(), unitWeights);
    if (outcome != kUndecided) {
        return found(outcome);
    }
    if (!nodesBuilt) {
        return Found::kNeedsNodes;
    }
    ++scratch.undecided;
    const KernelQuery nodeByNode{query, includeSelf, bound, 0.0};
    return found(SearchKernel<Metric, Walk::kNodes, Form>::Run(*this, scratch, nodeByNode));
}

// The accumulated distance from the query to the tree's bounds: on each continuous feature
// outside them, the contribution of its offset to the nearer bound. False when one overflows
// (only with Checked).
template <class Metric, bool Checked>
bool KNNKdTree::RootBound(const double* q, double& bound) const {
    double b = 0.0;
    for (size_t j = 0; j < entries.size(); ++j) {
        if (!featureContinuous[j]) {
            continue;
        }
        const double qv = q[j];
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

// Whether the query, like the built values, rules overflow out; `inside` tells whether it also
// lies within the built values' magnitudes, so that the tree's own rounding tolerance applies.
bool KNNKdTree::QueryIsSafe(const double* q, bool& inside) const {
    inside = true;
    for (size_t j = 0; j < entries.size(); ++j) {
        if (featureContinuous[j]) {
            const double magnitude = std::fabs(q[j]);
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
// higher-order terms with room to spare. With `q` null, for a query inside the built values'
// magnitudes (computed once per build); else for the query whose values per feature it holds.
double KNNKdTree::RoundingTolerance(const double* q) const {
    double largest = 0.0;
    for (size_t j = 0; j < entries.size(); ++j) {
        const double w = featureWeight[j];
        if (featureContinuous[j]) {
            const double qv = q != nullptr ? std::fabs(q[j]) : 0.0;
            const double r = std::max(qv, featureMaxAbs[j]) * (1.0 + 1e-12);
            largest += euclidean ? 4.0 * r * r * w : 2.0 * r * w;
        } else {
            largest += 2.0 * w;
        }
    }
    const double roundings = 2.0 * static_cast<double>(entries.size()) + 9.0 * maxDepth + 32.0;
    return roundings * std::ldexp(1.0, -53) * largest * 4.0;
}

VelStatus KNNKdTree::NoNeighbourStatus(const double* query) const {
    VelStatus result = Error(Code::NoNeighbour);
    const int column = ColumnTooLargeForDistance(query);
    if (column >= 0) {
        std::string name;
        preparation->Dictionary().GetVarAt(column)->GetName(name);
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

}  // namespace KNN_800
