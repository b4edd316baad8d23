// The kd-tree's layout: the flat arrays a build fills and a search reads, what holds in them,
// and the records of the tree's two forms (node records and search image).
//
// The arrays are members of KNNKdTree and survive from one build to the next (feature selection
// rebuilds once per candidate, so a warm build does not allocate):
//  - `nodes`: FlatNode records in depth-first order. A split's low child is the record right
//    after it, its high child is at `ref`; a leaf names a range of `caseIndex`. This is the tree
//    as defined (one case per leaf), used for the displays, the node views and the node-by-node
//    search. Most trees never need it, so a build keeps it only when the values call for the
//    checked search (or when asked, see KNNKdTree::EnsureNodes); otherwise it holds just the
//    records of the current path and block while the image is written.
//  - `caseIndex`: row indices of the built cases. The build reorders it in place, so when it
//    ends each leaf's cases are one contiguous range in the leaf's stored order.
//  - `points`: the feature values (data units) of the built cases, one row per case in the
//    order of `caseIndex`. The build moves these rows together with `caseIndex`, so its
//    partition passes read memory sequentially; the search reads a block's values from here,
//    where they lie in one run.
//  - `image`: the same tree for the fast search, with every subtree of at most kMaxBlockCases
//    cases (under a parent with more) folded into one block, laid out depth first in 8-byte
//    slots so that a descent reads runs of memory:
//     - every node starts with a NodeHead slot;
//     - a split continues with cut, high bound and low bound; its low child follows at +4, its
//       high child is at head.ref;
//     - a block has head = (~(cases | kBlockLeaf), first slot of `caseIndex` and `points`) and
//       continues with its splits in depth-first order, two slots each (cut, BlockSplit);
//     - a leaf of the tree above the blocks keeps head = (~cases, first slot of `caseIndex`).
//    The build writes it as it goes. Larger blocks mean fewer hard-to-predict branches per
//    search and smaller ones fewer distances; 16 measured best from 1 to 16 features. The
//    values are not copied into the image, so that a build on fresh memory touches as few new
//    pages as it can.
//  - per feature position: weight, axis factor, continuous flag, the tree's bounds.
// `caseIndex`, `nodes`, `image` and `points` hold tens of bytes per case; they are LargeBuffers
// (LargeBuffer.h), which lets a first build on fresh memory fault in huge pages rather than
// 4 KB ones. The partition passes need one bit per case of scratch (ExchangePartition.h).
//
// Build invariants. Cell bounds are kept in scaled units (value times axis factor) while
// building and stored in data units in the nodes and in the tree's bounds. The categorical
// bounds of a cell depend only on the cases in it, so they are computed when a node is entered
// rather than saved and restored around the children; the continuous bounds of the split column
// are saved before the children and restored after each of them.
#pragma once

#include <cstdint>
#include <cstring>

namespace KNN_800 {

namespace kdtree {

// One node of the node records, in depth-first order (a split's low child follows it).
struct FlatNode {
    double cut;        // split: cut value in data units
    double highBound;  // split: the cell's bounds on the split column, data units
    double lowBound;
    int32_t ref;   // split: position of the high child; leaf: first slot in caseIndex
    int32_t info;  // split: feature position | kCategoricalSplit; leaf: ~case count
};
constexpr int32_t kCategoricalSplit = 0x40000000;
constexpr int32_t kFeatureMask = kCategoricalSplit - 1;

constexpr int kMaxBlockCases = 16;  // largest block of the search image
// In the search image, ~info of a block carries this flag.
constexpr int32_t kBlockLeaf = 0x40000000;

// First slot of every node of the search image.
struct NodeHead {
    int32_t info;  // as FlatNode::info; a block has ~(cases | kBlockLeaf)
    int32_t ref;   // split: image position of the high child; leaf: first caseIndex slot
};

// A split inside a block (its cut is stored in the slot before).
struct BlockSplit {
    int32_t info;       // as FlatNode::info
    uint8_t lowCases;   // cases under the low child
    uint8_t lowSplits;  // splits under the low child; the high child's follow them
    bool lowIsSplit;
    bool highIsSplit;
};

// A far child waiting on the search's stack, with the bound on the distance of its cases.
struct PendingNode {
    int32_t node;
    double bound;
};

// A record as the 8-byte slot of the image that holds it, and back.
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

// Two values closer than this are equal for the fold column, a category and a flat cell.
constexpr double kTiny = 2.220446049250313e-16;  // 2^-52
// Below these magnitudes no weighted square or sum of them can overflow.
constexpr double kSmallValue = 1e100;
constexpr double kSmallWeight = 1e50;

}  // namespace kdtree

}  // namespace KNN_800
