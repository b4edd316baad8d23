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
SearchOutcome FixedBlockSearch(KNNKdTree& tree, const KernelQuery& query, bool unitWeights) {
    if (unitWeights) {
        return SearchKernel<Metric, Walk::kBlocks, FeatureForm<true, Count, true>>::Run(tree,
                                                                                        query);
    }
    return SearchKernel<Metric, Walk::kBlocks, FeatureForm<true, Count, false>>::Run(tree, query);
}

// The block walk; for 1 to 5 continuous features a kernel with their count built in.
template <class Metric, bool AllContinuous>
SearchOutcome BlockSearch(KNNKdTree& tree, const KernelQuery& query, size_t featureCount,
                          bool unitWeights) {
    if constexpr (AllContinuous) {
        switch (featureCount) {
            case 1:
                return FixedBlockSearch<Metric, 1>(tree, query, unitWeights);
            case 2:
                return FixedBlockSearch<Metric, 2>(tree, query, unitWeights);
            case 3:
                return FixedBlockSearch<Metric, 3>(tree, query, unitWeights);
            case 4:
                return FixedBlockSearch<Metric, 4>(tree, query, unitWeights);
            case 5:
                return FixedBlockSearch<Metric, 5>(tree, query, unitWeights);
            default:
                break;
        }
    }
    return SearchKernel<Metric, Walk::kBlocks, FeatureForm<AllContinuous>>::Run(tree, query);
}

}  // namespace

NeighborList* KNNKdTree::Search(const double* query, int K, bool includeSelf) {
    if (list.entries.empty() || list.k != K) {
        list.k = K;
        list.entries.assign(static_cast<size_t>(std::max(K + 1, 0)), Neighbor{});
        snapshot.resize(list.entries.size());
    }
    list.count = 0;
    if (!built || K < 1 || query == nullptr) {
        return &list;
    }
    for (size_t j = 0; j < entries.size(); ++j) {
        queryFeatures[j] = query[entries[j].column];
    }
    bool found;
    if (euclidean) {
        found = allContinuous ? RunSearch<EuclideanMetric, true>(query, includeSelf)
                              : RunSearch<EuclideanMetric, false>(query, includeSelf);
    } else {
        found = allContinuous ? RunSearch<CityBlockMetric, true>(query, includeSelf)
                              : RunSearch<CityBlockMetric, false>(query, includeSelf);
    }
    if (!found) {
        list.count = 0;
        return &list;
    }
    for (Neighbor& entry : list.entries) {
        entry.distance = euclidean ? EuclideanMetric::Finish(entry.distance)
                                   : CityBlockMetric::Finish(entry.distance);
    }
    return &list;
}

// Fills the list for the query in queryFeatures; false when a square overflowed.
template <class Metric, bool AllContinuous>
bool KNNKdTree::RunSearch(const double* query, bool includeSelf) {
    using Form = FeatureForm<AllContinuous>;
    bool inside = false;
    double bound = 0.0;
    if (!(valuesAreSmall && QueryIsSafe(inside))) {
        // EnsureNodes cannot fail here: a built tree can always be built again.
        if (!EnsureNodes() || !RootBound<Metric, true>(bound)) {
            return false;
        }
        const KernelQuery checked{query, includeSelf, bound, 0.0};
        return SearchKernel<Metric, Walk::kCheckedNodes, Form>::Run(*this, checked) == kFound;
    }
    RootBound<Metric, false>(bound);
    const double tolerance = inside ? treeTolerance : RoundingTolerance(true);
    const KernelQuery blocks{query, includeSelf, bound, tolerance};
    const SearchOutcome outcome =
        BlockSearch<Metric, AllContinuous>(*this, blocks, entries.size(), unitWeights);
    if (outcome != kUndecided) {
        return outcome == kFound;
    }
    // The rebuild that makes the node records gives the same tree, so the same root bound.
    ++undecidedSearches;
    if (!EnsureNodes()) {
        return false;
    }
    const KernelQuery nodeByNode{query, includeSelf, bound, 0.0};
    return SearchKernel<Metric, Walk::kNodes, Form>::Run(*this, nodeByNode) == kFound;
}

// The accumulated distance from the query to the tree's bounds: on each continuous feature
// outside them, the contribution of its offset to the nearer bound. False when one overflows
// (only with Checked).
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
