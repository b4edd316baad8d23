// The neighbour searcher: a kd-tree with one case per leaf over the selected features of the
// prepared data, optionally leaving one fold out and weighting the features. Continuous columns
// are split by the sliding-midpoint rule, categorical ones by one category against the rest.
// The search is exact branch and bound, with the tie rule of IKNNNearestNeighbor.h.
//
// The tree's files, each with one job: Layout.h (the arrays below, their invariants, the node
// and block records), Build.cpp (cases, values and bounds of a build), Splits.cpp (the cells
// and their splits), ExchangePartition.h (the partition pass), SearchKernel.h (the
// branch-and-bound walks), NeighborFill.h (the list as a walk fills it), Search.cpp (choosing
// a walk per search, overflow), Views.cpp (node views and displays) and LargeBuffer.h (the
// memory of the large arrays and its reuse).
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
#include "knn/search/NeighborList.h"
#include "knn/search/kdtree/LargeBuffer.h"
#include "knn/search/kdtree/Layout.h"

namespace KNN_800 {

namespace kdtree {
enum class Walk;
template <class Metric, Walk W, class Form>
class SearchKernel;
}  // namespace kdtree

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

    // What one search writes besides the list: the query's values per feature, the pending far
    // children and the list's copy while a block may be redone. The tree keeps one for Search;
    // each thread that searches the same tree at once brings its own.
    struct SearchScratch {
        NeighborList list;
        std::vector<double> queryFeatures;
        std::vector<kdtree::PendingNode> pending;
        std::vector<Neighbor> snapshot;
        long undecided = 0;  // searches repeated node by node
    };
    // Search for threads sharing the tree: reads the tree only, writes only `scratch`. Null
    // when the search needs the node records and this build left them out (Search, on the
    // thread that owns the tree, makes them); otherwise the list, with count 0 on failure.
    NeighborList* SearchShared(SearchScratch& scratch, const double* query, int K,
                               bool includeSelf) const;
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
    // The prepared rows the tree is built over, a fold left out included.
    const std::vector<double*>& Rows() const { return *rows; }
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
    long UndecidedSearches() const { return own.undecided; }

private:
    // The search kernels read the tree's arrays directly.
    template <class Metric, kdtree::Walk W, class Form>
    friend class kdtree::SearchKernel;

    // Build (Build.cpp).
    bool ReadFeatures(const std::vector<int>& features);
    void SetFeatureTables(const std::vector<double>* featureWeights);
    void SelectCases(int foldValue);
    void CopyValuesAndRootCell();
    bool ValuesRuleOutOverflow() const;
    bool EnsureNodes();

    // Cells and splits (Splits.cpp). The inline ones are defined there and inlined into the
    // build's recursion, which runs once per node: as calls they measured slower.
    int BuildNode(int start, int count, int depth, bool inBlock);
    int BuildCell(int start, int count, int depth, bool inBlock);
    inline int AddLeaf(int start, int count, bool inBlock);
    inline int AddSplit(const kdtree::FlatNode& split, int start, int count, int lowCount,
                        int depth, bool inBlock, int cutSlot, double scaledCut);
    inline int SplitContinuous(int start, int count, int depth, bool inBlock, double limit);
    int SplitCategorical(int start, int count, int depth, bool inBlock, double limit);
    inline bool IsCandidate(size_t feature, double limit) const;
    bool CellIsFlat() const;
    void CategoricalBounds(int start, int count);
    void SwapSlots(int a, int b);
    void SortEqualGroup(int start, int count);

    // Search (Search.cpp).
    enum class Found { kYes, kNo, kNeedsNodes };
    // Prepares `scratch` for a search with K and runs it; the list is then in scratch.list.
    Found SearchWith(SearchScratch& scratch, const double* query, int K, bool includeSelf) const;
    template <class Metric, bool AllContinuous>
    Found RunSearch(SearchScratch& scratch, const double* query, bool includeSelf) const;
    template <class Metric, bool Checked>
    bool RootBound(const double* q, double& bound) const;
    bool QueryIsSafe(const double* q, bool& inside) const;
    double RoundingTolerance(const double* q) const;
    // The column of a continuous feature whose weighted contribution to the distance between
    // `query` and a built case, or between two built cases, cannot be represented; when only
    // the sum of the contributions cannot, the column of the largest; else -1.
    int ColumnTooLargeForDistance(const double* query) const;

    // Views and displays (Views.cpp).
    void ShowPoints() const;
    void ShowBoundsAndDescription() const;
    void ShowNode(int position, uint32_t number, int depth) const;
    void DumpNode(int position) const;
    std::vector<int> LeafCases(const kdtree::FlatNode& node) const;

    // Where the data come from.
    KNNDataPreparation* preparation = nullptr;
    const std::vector<double*>* rows = nullptr;

    // The built structure (see Layout.h).
    std::vector<FeatureEntry> entries;
    std::vector<std::pair<int, int>> categoricalColumns;  // (column, category count)
    int caseCount = 0;
    int bucketSize = 1;
    int variableCount = 0;
    kdtree::LargeBuffer<int> caseIndex;  // row indices, reordered by the build into leaf order
    kdtree::LargeBuffer<kdtree::FlatNode> nodes;
    bool built = false;              // a build succeeded since the last Clear
    bool nodesBuilt = false;         // `nodes` holds the whole tree
    bool keepNodes = false;          // the next build keeps `nodes`
    std::vector<int> builtFeatures;  // the last build's arguments, to repeat it
    int builtFold = -1;
    // The tree as the block search reads it.
    kdtree::LargeBuffer<double> image;
    std::vector<std::pair<double, double>> bounds;  // per column (high, low)
    VelCommon_940::VelStatus status;
    bool euclidean = true;
    std::vector<double> weights;  // per column
    std::unique_ptr<KNNDistance> metric;
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
    kdtree::LargeBuffer<double> points;

    // Build scratch, kept across builds.
    std::vector<double> cellHigh;  // per feature slot, scaled units
    std::vector<double> cellLow;
    std::vector<int> categoryTally;
    std::vector<std::pair<int, int>> sortKeys;
    std::vector<double> sortRows;
    std::vector<uint64_t> exchangeBits;  // outcomes of a partition pass, one bit per case
    int maxDepth = 0;

    SearchScratch own;  // Search's
};

}  // namespace KNN_800
