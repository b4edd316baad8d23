// The search kernels: exact branch and bound over the node records or over the search image
// (Layout.h), one instantiation per metric, walk and feature form, chosen once per search
// (Search.cpp). The list they fill, and how cases go into it, is NeighborFill.h.
//
// Distances stay in accumulated units (squared sums for Euclidean) until the list is finished.
// The traversal is the near-child-first recursion written as a loop over an explicit stack: a
// far child's bound depends only on the query and the node, so it is computed on the way down
// and pushed, and the far child is entered when it is popped - after its near sibling's
// subtree, exactly when the recursion would decide - if the admission threshold is then
// strictly above its bound. The threshold never grows, so a bound that already fails when
// pushed is dropped at once. Cases enter the list by the tie rule of IKNNNearestNeighbor.h.
// Only the checked walk tests squares for overflow and the partial sum against the threshold
// after each contribution; the others test the whole sum once per case (Search.cpp says when
// each walk is used).
//
// Blocks. At a block all its cases are measured at once; those at or below the admission
// threshold (candidates) are then inserted. The result must be that of the node-by-node
// descent, which reaches the block's cases near child first and may prune some of them. Why
// the block gives the same list:
//  - In descent order, a case the descent would have pruned at a split v has a distance at
//    least the bound computed at v, which is at least the threshold then, which is at least the
//    threshold now; so it is rejected or lands in the scratch slot, and changes nothing. That
//    holds up to rounding: the tolerance (KNNKdTree::RoundingTolerance) bounds by how much a
//    computed bound can exceed a computed distance, and a case that would enter a full list
//    with a distance within that margin below the threshold makes the search undecided; it is
//    then repeated node by node.
//  - Several candidates with pairwise different distances are first inserted in stored order,
//    which fills the list with the K smallest distances just the same. A case the descent would
//    have pruned can only end up in that list if some other distance involved lies above its
//    own by at most the margin (the K cases that made the threshold at v were all at most its
//    distance plus the margin). So when the list is full afterwards and either two of its
//    entries or the list's last entry and a distance that fell out lie that close, the block is
//    undone and done again in descent order as above. Equal distances among candidates go to
//    descent order directly, since their order in the list is the descent's.
// The descent order of a block's cases is computed from its stored splits (DescentRank).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "knn/search/kdtree/KNNKdTree.h"
#include "knn/search/kdtree/Layout.h"
#include "knn/search/kdtree/NeighborFill.h"

namespace KNN_800 {

namespace kdtree {

enum SearchOutcome { kFound, kOverflow, kUndecided };

// Which form of the tree a kernel walks: the node records with every overflow test in place,
// the node records without them, or the search image with its blocks (declared in KNNKdTree.h).
enum class Walk { kCheckedNodes, kNodes, kBlocks };

// What a kernel may take as fixed about the features: all continuous; their count (0: known at
// run time only); every weight 1, so that the products by the weights are left out (a product
// by 1 is exact, so this changes nothing).
template <bool AllContinuous, int Count = 0, bool UnitWeights = false>
struct FeatureForm {
    static constexpr bool kAllContinuous = AllContinuous;
    static constexpr int kCount = Count;
    static constexpr bool kUnitWeights = UnitWeights;
};

// One search as a kernel takes it, besides the tree's arrays and the search's scratch (whose
// queryFeatures holds the query's values per feature position).
struct KernelQuery {
    const double* row;  // the query as given, for its case identifier
    bool includeSelf;
    double rootBound;  // accumulated distance from the query to the tree's bounds
    double tolerance;  // rounding margin of the block walk (see above)
};

template <class Metric, Walk W, class Form>
class SearchKernel {
public:
    // Fills the list and returns kFound; kOverflow when a square cannot be represented (only
    // on the checked walk), kUndecided when a block cannot be settled (only on the block walk).
    static SearchOutcome Run(const KNNKdTree& tree, KNNKdTree::SearchScratch& scratch,
                             const KernelQuery& query) {
        SearchKernel kernel(tree, scratch, query);
        return kernel.Search();
    }

private:
    static constexpr bool kChecked = W == Walk::kCheckedNodes;
    static constexpr bool kBlocks = W == Walk::kBlocks;

    SearchKernel(const KNNKdTree& tree, KNNKdTree::SearchScratch& scratch, const KernelQuery& query)
        : nodes(tree.nodes.data()),
          image(tree.image.data()),
          points(tree.points.data()),
          cases(tree.caseIndex.data()),
          w(tree.featureWeight.data()),
          factor(tree.featureFactor.data()),
          continuous(tree.featureContinuous.data()),
          featureCount(tree.entries.size()),
          q(scratch.queryFeatures.data()),
          stack(scratch.pending.data()),
          bound(query.rootBound),
          fill({.list = &scratch.list,
                .saved = scratch.snapshot.data(),
                .unbounded = tree.unbounded,
                .tolerance = query.tolerance,
                .row = query.row,
                .rows = tree.rows->data(),
                .caseIdColumn = tree.caseIdColumn,
                .includeSelf = query.includeSelf}) {}

    [[gnu::always_inline]] SearchOutcome Search() {
        for (;;) {
            if (!Descend()) {
                return kOverflow;
            }
            if (kBlocks && (~info & kBlockLeaf) != 0) {
                if (!ScanBlock()) {
                    return kUndecided;
                }
            } else if (!ScanLeaf()) {
                return kOverflow;
            }
            if (!NextPending()) {
                fill.Finish();
                return kFound;
            }
        }
    }

    [[gnu::always_inline]] size_t F() const {
        if constexpr (Form::kCount > 0) {
            return static_cast<size_t>(Form::kCount);
        } else {
            return featureCount;
        }
    }
    [[gnu::always_inline]] bool IsContinuous(int32_t splitInfo) const {
        return Form::kAllContinuous || (splitInfo & kCategoricalSplit) == 0;
    }

    // From node `n` down the near children to a leaf or block, whose head it leaves in `info`
    // and `ref`, pushing every far child whose bound is below the threshold. False when a
    // square overflows.
    [[gnu::always_inline]] bool Descend() {
        for (;;) {
            double cut;
            double highBound;
            double lowBound;
            int32_t lowChild;
            if constexpr (kBlocks) {
                const NodeHead head = FromSlot<NodeHead>(image + n);
                info = head.info;
                ref = head.ref;
                if (info < 0) {
                    return true;
                }
                __builtin_prefetch(image + ref);
                cut = image[n + 1];
                highBound = image[n + 2];
                lowBound = image[n + 3];
                lowChild = n + 4;
            } else {
                const FlatNode& node = nodes[n];
                info = node.info;
                ref = node.ref;
                if (info < 0) {
                    return true;
                }
                cut = node.cut;
                highBound = node.highBound;
                lowBound = node.lowBound;
                lowChild = n + 1;
            }
            const int j = info & kFeatureMask;
            const double qv = q[j];
            bool highNear;  // a categorical split's high child holds its category
            double farBound;
            if (IsContinuous(info)) {
                const double diff = qv - cut;
                highNear = diff * factor[j] >= 0.0;
                if (!FarBound(j, diff, highBound, lowBound, farBound)) {
                    return false;
                }
            } else {
                highNear = qv == cut;
                farBound = (bound + Metric::SquareUnchecked(highNear ? 0.5 : -0.5, w[j])) - 0.0;
            }
            // Which child is near cannot be predicted, so a mask picks it instead of a branch
            // (written with ?:, the compiler chose a branch here, which measured slower).
            const int32_t swap = (lowChild ^ ref) & -static_cast<int32_t>(highNear);
            const int32_t nearChild = lowChild ^ swap;
            const int32_t farChild = ref ^ swap;
            if (fill.Threshold() > farBound) {
                stack[top].node = farChild;
                stack[top].bound = farBound;
                ++top;
            }
            n = nearChild;
        }
    }

    // The bound of the far child of a continuous split on feature j: the node's bound with the
    // query's offset to the cell on that feature replaced by its offset `diff` to the cut.
    [[gnu::always_inline]] bool FarBound(int j, double diff, double highBound, double lowBound,
                                         double& farBound) const {
        const double qv = q[j];
        double added;
        double removed = 0.0;
        if constexpr (kChecked) {
            if (!Metric::Square(diff, w[j], added)) {
                return false;
            }
            if (qv > highBound) {
                if (!Metric::Square(qv - highBound, w[j], removed)) {
                    return false;
                }
            } else if (qv < lowBound) {
                if (!Metric::Square(lowBound - qv, w[j], removed)) {
                    return false;
                }
            }
        } else {
            const double wj = Form::kUnitWeights ? 1.0 : w[j];
            added = Metric::SquareUnchecked(diff, wj);
            if (qv > highBound) {
                removed = Metric::SquareUnchecked(qv - highBound, wj);
            } else if (qv < lowBound) {
                removed = Metric::SquareUnchecked(lowBound - qv, wj);
            }
        }
        farBound = (bound + added) - removed;
        return true;
    }

    // Pops far children until one can still hold a case below the threshold and makes it the
    // current node. False when none is left.
    [[gnu::always_inline]] bool NextPending() {
        while (top > 0) {
            const PendingNode& next = stack[--top];
            if (fill.Threshold() > next.bound) {
                n = next.node;
                bound = next.bound;
                return true;
            }
        }
        return false;
    }

    // The leaf at the current node: every case in stored order. False when a square overflows.
    [[gnu::always_inline]] bool ScanLeaf() {
        const int last = ref + ~info;
        for (int p = ref; p < last; ++p) {
            const double* x = points + static_cast<size_t>(p) * F();
            double sum;
            if constexpr (kChecked) {
                if (!CheckedDistance(x, sum)) {
                    return false;
                }
            } else {
                sum = Distance(x);
            }
            if (sum > fill.Threshold()) {
                continue;
            }
            fill.Offer(sum, cases[p]);
        }
        return true;
    }

    // Accumulated distance of the stored case with values `x`, contributions in feature order,
    // without overflow tests.
    [[gnu::always_inline]] double Distance(const double* x) const {
        double sum = 0.0;
        for (size_t j = 0; j < F(); ++j) {
            double d = q[j] - x[j];
            if (Form::kAllContinuous || continuous[j]) {
                sum += Metric::SquareUnchecked(d, Form::kUnitWeights ? 1.0 : w[j]);
            } else {
                if (d != 0.0) {
                    d = 2.0;
                }
                sum += Metric::Linear(d, w[j]);
            }
        }
        return sum;
    }

    // The same with every square tested; stops with the partial sum as soon as it exceeds the
    // threshold. False when a square overflows.
    [[gnu::always_inline]] bool CheckedDistance(const double* x, double& sum) const {
        sum = 0.0;
        for (size_t j = 0; j < F(); ++j) {
            double d = q[j] - x[j];
            double c;
            if (Form::kAllContinuous || continuous[j]) {
                if (!Metric::Square(d, w[j], c)) {
                    return false;
                }
            } else {
                if (d != 0.0) {
                    d = 2.0;
                }
                c = Metric::Linear(d, w[j]);
            }
            sum += c;
            if (sum > fill.Threshold()) {
                return true;
            }
        }
        return true;
    }

    // The block at the current node: every case measured, then the candidates (cases at most
    // the threshold away) inserted in stored order where that gives the descent order's result,
    // else in descent order (see the note at the top). False when the search is undecided.
    [[gnu::always_inline]] bool ScanBlock() {
        const int size = ~info & ~kBlockLeaf;
        const double* x = points + static_cast<size_t>(ref) * F();
        double distance[kMaxBlockCases];
        unsigned candidates = 0;
        for (int i = 0; i < size; ++i, x += F()) {
            distance[i] = Distance(x);
            candidates |= (distance[i] <= fill.Threshold() ? 1u : 0u) << i;
        }
        const int* const rowOf = cases + ref;
        int8_t order[kMaxBlockCases];
        if ((candidates & (candidates - 1)) != 0) {
            if (fill.TakeInStoredOrder(distance, rowOf, candidates)) {
                return true;
            }
            return fill.TakeInOrder(distance, rowOf, order, DescentOrder(candidates, size, order));
        }
        if (candidates != 0) {
            order[0] = static_cast<int8_t>(__builtin_ctz(candidates));
            return fill.TakeInOrder(distance, rowOf, order, 1);
        }
        return true;
    }

    // The candidates' stored positions in the order the node-by-node descent reaches them;
    // returns how many.
    [[gnu::always_inline]] int DescentOrder(unsigned candidates, int size, int8_t* order) const {
        int8_t byRank[kMaxBlockCases];
        std::fill_n(byRank, size, static_cast<int8_t>(-1));
        for (unsigned bits = candidates; bits != 0; bits &= bits - 1) {
            const int i = __builtin_ctz(bits);
            byRank[DescentRank(size, i)] = static_cast<int8_t>(i);
        }
        int ordered = 0;
        for (int r = 0; r < size; ++r) {
            if (byRank[r] >= 0) {
                order[ordered++] = byRank[r];
            }
        }
        return ordered;
    }

    // Position of the current block's r-th stored case among its `size` cases in descent
    // order (near child first), from the block's splits.
    [[gnu::always_inline]] int DescentRank(int size, int r) const {
        const double* split = image + n + 1;
        int rank = 0;
        int start = 0;
        int under = size;
        for (;;) {
            const BlockSplit s = FromSlot<BlockSplit>(split + 1);
            const int j = s.info & kFeatureMask;
            const bool highNear =
                IsContinuous(s.info) ? (q[j] - split[0]) * factor[j] >= 0.0 : q[j] == split[0];
            const bool inHigh = r >= start + s.lowCases;
            if (inHigh != highNear) {
                rank += highNear ? under - s.lowCases : s.lowCases;
            }
            if (inHigh) {
                start += s.lowCases;
                under -= s.lowCases;
                if (!s.highIsSplit) {
                    break;
                }
                split += 2 * (1 + s.lowSplits);
            } else {
                under = s.lowCases;
                if (!s.lowIsSplit) {
                    break;
                }
                split += 2;
            }
        }
        return rank + (r - start);
    }

    // The tree and the query's values per feature position.
    const FlatNode* const nodes;
    const double* const image;
    const double* const points;
    const int* const cases;
    const double* const w;
    const double* const factor;
    const uint8_t* const continuous;
    const size_t featureCount;
    const double* const q;
    // The walk: far children waiting, the current node, its bound and, once reached, the head
    // of the leaf or block.
    PendingNode* const stack;
    int top = 0;
    int32_t n = 0;
    double bound;
    int32_t info = 0;
    int32_t ref = 0;
    NeighborFill fill;
};

}  // namespace kdtree

}  // namespace KNN_800
