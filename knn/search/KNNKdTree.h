// The neighbour searcher: a kd-tree with one case per leaf over the selected features of the
// prepared data, optionally leaving one fold out and weighting the features. Continuous columns
// are split by the sliding-midpoint rule, categorical ones by one category against the rest.
// The search is exact branch and bound; see KNNKdTree.cpp for the layout and its invariants.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "VelStatus.h"
#include "knn/data/KNNDataPreparation.h"
#include "knn/search/IKNNNearestNeighbor.h"
#include "knn/search/KNNDistance.h"
#include "knn/search/LargeBuffer.h"
#include "knn/search/NeighborList.h"

namespace KNN_800 {

class KNNKdTree : public IKNNNearestNeighbor {
public:
    // A tree over the rows of `preparation` (not owned), with the metric, fold column and
    // case-identifier column of its settings.
    explicit KNNKdTree(KNNDataPreparation* preparation);
    ~KNNKdTree() override;
    KNNKdTree(const KNNKdTree&) = delete;
    KNNKdTree& operator=(const KNNKdTree&) = delete;

    VelCommon_940::VelStatus Build(const std::vector<int>& features, int foldValue,
                                   const std::vector<double>* weights) override;
    NeighborList* Search(const double* query, int K, bool includeSelf) override;
    // The status of a search for `query` that found no neighbour: 200064, and when a feature's
    // values are too large for the distance, a message naming that field and the field's index
    // as discrete datum 0. Reads every built value: meant for after a failed search only.
    VelCommon_940::VelStatus NoNeighbourStatus(const double* query) const;
    // Empties the tree. The buffers keep their capacity for the next build.
    void Clear() override;
    VelCommon_940::VelStatus GetStatus() const override { return status; }
    void Display() override;
    virtual void DisplayPoints(bool showPoints) const;
    virtual void DisplayTree(bool showPoints);

    // Read-only views for diagnostics and tests.
    struct NodeView {
        bool leaf = true;
        // Split nodes: the split column, whether it is continuous, the cut and the cell's
        // bounds on that column in data units, and the children's node positions.
        int column = -1;
        bool continuous = true;
        double cut = 0.0;
        double highBound = 0.0;
        double lowBound = 0.0;
        int low = -1;
        int high = -1;
        // Leaves: the cases (row indices) in stored order.
        std::vector<int> cases;
    };
    // The node views and displays need the node records, which a build leaves out unless
    // they are needed for searching; the first call after such a build makes them.
    bool HasRoot() const { return built; }
    int NodeCount() {
        EnsureNodes();
        return static_cast<int>(nodes.size());
    }
    NodeView Node(int position);  // the root is at position 0
    int CaseCount() const { return caseCount; }
    int BucketSize() const { return bucketSize; }
    int VariableCount() const { return variableCount; }
    // Row indices of the built cases, in leaf order.
    std::span<const int> CaseIndices() const { return {caseIndex.data(), caseIndex.size()}; }
    // Per column (high, low) range of the built cases in data units.
    const std::vector<std::pair<double, double>>& Bounds() const { return bounds; }
    const std::vector<double>& Weights() const { return weights; }
    bool IsEuclidean() const { return euclidean; }
    const KNNDistance& Metric() const { return *metric; }
    // Searches that the block scan could not settle and that were repeated node by node.
    long UndecidedSearches() const { return undecidedSearches; }

private:
    // One node of the flattened tree, in depth-first order (a split's low child follows it).
    struct FlatNode {
        double cut;        // split: cut value in data units
        double highBound;  // split: the cell's bounds on the split column, data units
        double lowBound;
        int32_t ref;   // split: position of the high child; leaf: first slot in caseIndex
        int32_t info;  // split: feature position | kCategoricalSplit; leaf: ~case count
    };
    static constexpr int32_t kCategoricalSplit = 0x40000000;
    static constexpr int32_t kFeatureMask = kCategoricalSplit - 1;
    static constexpr int kMaxBlockCases = 16;  // largest block of the search image
    // In the search image, ~info of a block carries this flag.
    static constexpr int32_t kBlockLeaf = 0x40000000;

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

    struct PendingNode {
        int32_t node;
        double bound;
    };

    bool ReadFeatures(const std::vector<int>& features);
    int BuildNode(int start, int count, int depth, bool inBlock);
    int BuildCell(int start, int count, int depth, bool inBlock);
    bool EnsureNodes();
    bool CellIsFlat() const;
    void CategoricalBounds(int start, int count);
    void SwapSlots(int a, int b);
    void SortEqualGroup(int start, int count);
    bool QueryIsSafe(bool& inside) const;
    // The column of a continuous feature whose weighted contribution to the distance between
    // `query` and a built case, or between two built cases, cannot be represented; when only
    // the sum of the contributions cannot, the column of the largest; else -1.
    int ColumnTooLargeForDistance(const double* query) const;
    double RoundingTolerance(bool forQuery) const;
    template <class Metric, int Features>
    int FixedKernel(const double* query, bool includeSelf, double tolerance);
    template <class Metric, bool AllContinuous>
    int RunSearch(const double* query, bool includeSelf);
    template <class Metric, bool Checked, bool AllContinuous, bool Blocks, int FixedFeatures,
              bool UnitWeights = false>
    int SearchKernel(const double* query, bool includeSelf, double tolerance);
    template <class Metric, bool Checked>
    bool RootBound(double& bound) const;

    void ShowPoints() const;
    void ShowBoundsAndDescription() const;
    void ShowNode(int position, uint32_t number, int depth) const;
    void DumpNode(int position) const;
    std::vector<int> LeafCases(const FlatNode& node) const;

    // Where the data come from.
    KNNDataPreparation* preparation = nullptr;
    const std::vector<double*>* rows = nullptr;

    // The built structure.
    std::vector<FeatureEntry> entries;
    std::vector<std::pair<int, int>> categoricalColumns;  // (column, category count)
    int caseCount = 0;
    int bucketSize = 1;
    int variableCount = 0;
    kdtree_memory::LargeBuffer<int>
        caseIndex;  // row indices, reordered by the build into leaf order
    kdtree_memory::LargeBuffer<FlatNode> nodes;
    bool built = false;              // a build succeeded since the last Clear
    bool nodesBuilt = false;         // `nodes` holds the whole tree
    bool keepNodes = false;          // the next build keeps `nodes`
    std::vector<int> builtFeatures;  // the last build's arguments, to repeat it
    int builtFold = -1;
    // The tree as the block search reads it (see BuildNode).
    kdtree_memory::LargeBuffer<double> image;
    std::vector<std::pair<double, double>> bounds;  // per column (high, low)
    VelCommon_940::VelStatus status;
    bool euclidean = true;
    std::vector<double> weights;  // per column
    std::unique_ptr<NeighborList> list;
    std::unique_ptr<KNNDistance> metric;
    int currentK = 0;
    int foldColumn = -1;
    int caseIdColumn = -1;
    double unbounded = 0.0;  // admission threshold of a list that is not full

    // Per feature position (hot data of the search and the build).
    std::vector<int> featureSlot;  // first feature position with the same column
    std::vector<uint8_t> featureContinuous;
    std::vector<int> featureCategories;  // 0 for continuous features
    std::vector<double> featureWeight;
    std::vector<double> featureFactor;  // axis factor
    std::vector<double> featureLow;     // the tree's bounds, data units
    std::vector<double> featureHigh;
    std::vector<double> featureMaxAbs;  // largest |value| of the built cases
    bool allContinuous = true;
    bool valuesAreSmall = false;  // built values and weights rule out overflow
    double treeTolerance = 0.0;   // RoundingTolerance for queries inside the built values
    bool unitWeights = false;     // every feature weight is 1

    // Feature values of the built cases, one row of entries.size() values per case, in the
    // order of caseIndex.
    kdtree_memory::LargeBuffer<double> points;

    // Build scratch, kept across builds.
    std::vector<double> cellHigh;  // per feature slot, scaled units
    std::vector<double> cellLow;
    std::vector<int> categoryTally;
    std::vector<std::pair<int, int>> sortKeys;
    std::vector<double> sortRows;
    std::vector<uint64_t> exchangeBits;  // outcomes of a partition pass, one bit per case
    int maxDepth = 0;

    // Search scratch.
    std::vector<double> queryFeatures;
    std::vector<PendingNode> pending;
    std::vector<Neighbor> snapshot;  // the list before a block, while the block may be redone
    long undecidedSearches = 0;
};

}  // namespace KNN_800
