// kd-tree searcher: tree shape on hand-worked data, and search results against two independent
// references - an exhaustive search (neighbours, order and distances where no ties exist) and a
// plain recursive walk of the built tree written from the definition of the search (exact
// order including ties, and failures).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "TestSources.h"
#include "VelDisplay.h"
#include "VelMV.h"
#include "VelVarList.h"
#include "knn/base/StatusCodes.h"
#include "knn/data/KNNDataPreparation.h"
#include "knn/search/KNNDistance.h"
#include "knn/search/kdtree/KNNKdTree.h"
#include "knn/settings/KNNSettings.h"

namespace KNN_800 {
namespace {

using Hit = std::pair<double, int>;  // (distance, row)

// The built cases' rows in leaf order.
std::vector<int> BuiltOrder(const KNNKdTree& tree) {
    const auto rows = tree.CaseIndices();
    return {rows.begin(), rows.end()};
}

// Prepared data over in-memory rows; categories[c] is 0 for a continuous column.
class Table {
public:
    Table(const std::vector<std::vector<double>>& values, const std::vector<int>& categories,
          int distMetric, int idColumn, int foldColumn = -1) {
        const int width = static_cast<int>(categories.size());
        settings.TotalVarNum = width;
        settings.RescaleMethod = 1;
        settings.DistMetric = distMetric;
        settings.CaseIDVariable = idColumn;
        settings.VFoldVariable = foldColumn;
        for (int c = 0; c < width; ++c) {
            settings.UsedVariables.push_back(c);
            const std::string name = "f" + std::to_string(c);
            if (categories[static_cast<size_t>(c)] == 0) {
                dictionary.Add(new VelXML_940::VelContVar(name));
            } else {
                std::vector<VelXML_940::VelCategory> list;
                for (int k = 0; k < categories[static_cast<size_t>(c)]; ++k) {
                    list.push_back({std::to_string(k), static_cast<double>(k), ""});
                }
                dictionary.Add(
                    new VelXML_940::VelCatVar(name, VelXML_940::kNumericCategorical, list));
            }
        }
        for (const std::vector<double>& row : values) {
            source.Add(row);
        }
        preparation = std::make_unique<KNNDataPreparation>(settings, dictionary, context, nullptr);
        EXPECT_FALSE(preparation->Run(source).IsError());
    }
    const std::vector<double*>& Rows() const { return preparation->Rows(); }

    KNNSettings settings;
    VelXML_940::VelVarList dictionary;
    RunContext context;
    test::VectorRecordSource source;
    std::unique_ptr<KNNDataPreparation> preparation;
};

std::vector<Hit> Results(const NeighborList& list) {
    std::vector<Hit> hits;
    for (int i = 0; i < list.count; ++i) {
        hits.emplace_back(list.entries[static_cast<size_t>(i)].distance,
                          static_cast<int>(list.entries[static_cast<size_t>(i)].caseIndex));
    }
    return hits;
}

std::vector<Hit> TreeSearch(KNNKdTree& tree, const std::vector<double>& query, int K,
                            bool includeSelf) {
    return Results(*tree.Search(query.data(), K, includeSelf));
}

// Every built case, distances summed in feature order, nearest first, ties by row.
std::vector<Hit> Exhaustive(const KNNKdTree& tree, const Table& table,
                            const std::vector<int>& features, const std::vector<double>& q, int K,
                            bool includeSelf) {
    std::vector<Hit> all;
    const int id = table.settings.CaseIDVariable;
    for (int row : tree.CaseIndices()) {
        const double* x = table.Rows()[static_cast<size_t>(row)];
        double sum = 0.0;
        for (int f : features) {
            const double w = tree.Weights()[static_cast<size_t>(f)];
            double d = q[static_cast<size_t>(f)] - x[f];
            if (!table.preparation->Entry(f).continuous) {
                sum += (d != 0.0 ? 2.0 : 0.0) * w;
            } else {
                sum += tree.IsEuclidean() ? (d * d) * w : std::fabs(d) * w;
            }
        }
        if (!includeSelf && sum == 0.0 && q[static_cast<size_t>(id)] == std::trunc(x[id])) {
            continue;
        }
        all.emplace_back(sum, row);
    }
    std::sort(all.begin(), all.end());
    all.resize(std::min(all.size(), static_cast<size_t>(K)));
    for (Hit& hit : all) {
        hit.first = tree.IsEuclidean() ? std::sqrt(hit.first) : hit.first;
    }
    return all;
}

// The search as defined: recursion over the built nodes, every coordinate through the metric
// object, near child first, far child when the threshold is strictly above its bound. The
// nodes come from a second tree built the same way, so that the tree under test keeps the
// form a build leaves it in (search image only, node records made on demand).
class RecursiveSearch {
public:
    RecursiveSearch(const KNNKdTree& tree, const Table& table, const std::vector<int>& features,
                    int fold = -1)
        : tree(tree), table(table) {
        KNNKdTree copy(table.preparation.get());
        std::vector<double> weights;
        for (int f : features) {
            const int column = table.preparation->Entry(f).column;
            weights.push_back(tree.Weights()[static_cast<size_t>(column)]);
        }
        EXPECT_TRUE(copy.Build(features, fold, &weights).IsOK());
        for (int n = 0; n < copy.NodeCount(); ++n) {
            nodes.push_back(copy.Node(n));
        }
        for (int f : features) {
            entries.push_back(table.preparation->Entry(f));
        }
    }

    // Empty when the search fails.
    std::vector<Hit> Run(const std::vector<double>& query, int K, bool includeSelf) {
        q = query.data();
        self = includeSelf;
        list = NeighborList{K, 0, std::vector<Neighbor>(static_cast<size_t>(K) + 1)};
        double bound = 0.0;
        for (const FeatureEntry& e : entries) {
            const std::pair<double, double>& range = tree.Bounds()[static_cast<size_t>(e.column)];
            double c = 0.0;
            bool ok = true;
            if (!e.continuous) {
                continue;
            } else if (range.second > q[e.column]) {
                ok = Add(range.second - q[e.column], e.column, true, c);
            } else if (q[e.column] > range.first) {
                ok = Add(q[e.column] - range.first, e.column, true, c);
            }
            if (!ok) {
                return {};
            }
            bound += c;
        }
        if (!Visit(0, bound)) {
            return {};
        }
        std::vector<Hit> hits = Results(list);
        for (Hit& hit : hits) {
            hit.first = tree.Metric().Finish(hit.first, 1.0);
        }
        return hits;
    }

private:
    bool Add(double d, int column, bool square, double& out) const {
        return tree.Metric()
            .Contribution(d, tree.Weights()[static_cast<size_t>(column)], square, &out)
            .IsOK();
    }
    double Threshold() const {
        return list.count < list.k ? -VelCommon_940::VelMV::Missing()
                                   : list.entries[static_cast<size_t>(list.k) - 1].distance;
    }

    bool Visit(int n, double bound) {
        const KNNKdTree::NodeView& node = nodes[static_cast<size_t>(n)];
        if (node.leaf) {
            return Scan(node);
        }
        const double qv = q[node.column];
        const double w = tree.Weights()[static_cast<size_t>(node.column)];
        const double f = tree.IsEuclidean() ? std::sqrt(w) : w;
        double t = (qv - node.cut) * f;
        bool highNear = t >= 0.0;
        if (!node.continuous) {
            t = qv == node.cut ? 0.5 : -0.5;
            highNear = qv == node.cut;
        }
        if (!Visit(highNear ? node.high : node.low, bound)) {
            return false;
        }
        double added = 0.0;
        double removed = 0.0;
        if (node.continuous) {
            if (!Add(qv - node.cut, node.column, true, added)) {
                return false;
            }
            bool ok = true;
            if (qv > node.highBound) {
                ok = Add(qv - node.highBound, node.column, true, removed);
            } else if (qv < node.lowBound) {
                ok = Add(node.lowBound - qv, node.column, true, removed);
            }
            if (!ok) {
                return false;
            }
        } else if (!Add(t, node.column, true, added)) {
            return false;
        }
        const double farBound = bound + added - removed;
        return Threshold() > farBound ? Visit(highNear ? node.low : node.high, farBound) : true;
    }

    bool Scan(const KNNKdTree::NodeView& leaf) {
        const int id = table.settings.CaseIDVariable;
        for (int row : leaf.cases) {
            const double* x = table.Rows()[static_cast<size_t>(row)];
            double sum = 0.0;
            bool abandoned = false;
            for (const FeatureEntry& e : entries) {
                double d = q[e.column] - x[e.column];
                if (!e.continuous && d != 0.0) {
                    d = 2.0;
                }
                double c = 0.0;
                if (!Add(d, e.column, e.continuous, c)) {
                    return false;
                }
                sum += c;
                if (sum > Threshold()) {
                    abandoned = true;
                    break;
                }
            }
            if (abandoned || (!self && sum == 0.0 && q[id] == std::trunc(x[id]))) {
                continue;
            }
            int p = list.count;
            while (p > 0 && list.entries[static_cast<size_t>(p) - 1].distance > sum) {
                list.entries[static_cast<size_t>(p)] = list.entries[static_cast<size_t>(p) - 1];
                --p;
            }
            list.entries[static_cast<size_t>(p)] = Neighbor{sum, static_cast<uint32_t>(row)};
            if (list.count < list.k) {
                ++list.count;
            }
        }
        return true;
    }

    const KNNKdTree& tree;
    const Table& table;
    std::vector<KNNKdTree::NodeView> nodes;
    std::vector<FeatureEntry> entries;
    const double* q = nullptr;
    bool self = false;
    NeighborList list;
};

// Rows of `width` values; column `width - 1` is the case identifier (the row number).
std::vector<std::vector<double>> RandomRows(int count, const std::vector<int>& categories,
                                            unsigned seed, bool integral) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::vector<std::vector<double>> rows;
    for (int i = 0; i < count; ++i) {
        std::vector<double> row;
        for (size_t c = 0; c + 1 < categories.size(); ++c) {
            if (categories[c] > 0) {
                row.push_back(static_cast<double>(random() % categories[c]));
            } else if (integral) {
                row.push_back(static_cast<double>(random() % 4));
            } else {
                row.push_back(uniform(random));
            }
        }
        row.push_back(i);
        rows.push_back(row);
    }
    return rows;
}

TEST(KdTreeMetric, ContributionsFinishAndAxisOffsets) {
    const KNNEuclideanDis euclidean;
    const KNNCityblockDis cityBlock;
    double out = 0.0;
    EXPECT_TRUE(euclidean.Contribution(-3.0, 0.5, true, &out).IsOK());
    EXPECT_EQ(out, 4.5);
    EXPECT_TRUE(euclidean.Contribution(2.0, 0.5, false, &out).IsOK());  // category mismatch
    EXPECT_EQ(out, 1.0);
    EXPECT_TRUE(cityBlock.Contribution(-3.0, 0.5, true, &out).IsOK());
    EXPECT_EQ(out, 1.5);
    EXPECT_EQ(euclidean.Finish(9.0, 1.0), 3.0);
    EXPECT_EQ(cityBlock.Finish(9.0, 1.0), 9.0);
    EXPECT_EQ(euclidean.AxisOffset(5.0, 1.0, 4.0), 8.0);
    EXPECT_EQ(cityBlock.AxisOffset(5.0, 1.0, 4.0), 16.0);

    out = 7.0;
    const VelCommon_940::VelStatus overflow = euclidean.Contribution(1e200, 1.0, true, &out);
    EXPECT_EQ(overflow.GetErrorCode(), Code::NoNeighbour);
    EXPECT_EQ(out, 7.0);
    EXPECT_TRUE(cityBlock.Contribution(1e200, 1.0, true, &out).IsOK());

    // The inlined forms used by the search agree with the classes, failure included.
    for (double d : {0.0, -0.1, 3.5, 1e-200, 1e150, 1e160, -1e300}) {
        for (double w : {0.0, 0.25, 1.0, 7.0}) {
            double inlined = 0.0;
            const bool ok = EuclideanMetric::Square(d, w, inlined);
            EXPECT_EQ(ok, euclidean.Contribution(d, w, true, &out).IsOK()) << d;
            if (ok) {
                EXPECT_EQ(inlined, out);
            }
            cityBlock.Contribution(d, w, true, &out);
            EXPECT_EQ(CityBlockMetric::SquareUnchecked(d, w), out);
        }
    }
}

// Several equal values on the cut: the low part is made as close to half as the groups allow,
// the equal cases with the highest row numbers going low. Tie order follows the traversal.
TEST(KdTreeBuild, SlidingMidpointAndEqualCasesOnTheCut) {
    Table table({{0, 0}, {5, 1}, {5, 2}, {5, 3}, {10, 4}}, {0, 0}, 0, 1);
    KNNKdTree tree(table.preparation.get());
    ASSERT_TRUE(tree.Build({0}, -1, nullptr).IsOK());
    EXPECT_EQ(BuiltOrder(tree), (std::vector<int>{0, 3, 2, 1, 4}));
    const KNNKdTree::NodeView root = tree.Node(0);
    EXPECT_FALSE(root.leaf);
    EXPECT_EQ(root.column, 0);
    EXPECT_EQ(root.cut, 5.0);
    EXPECT_EQ(root.lowBound, 0.0);
    EXPECT_EQ(root.highBound, 10.0);
    EXPECT_EQ(tree.NodeCount(), 9);

    // Cases 1, 2, 3 tie; which comes first depends on the side of the cut the query is on.
    std::vector<Hit> below = TreeSearch(tree, {4.9, -1}, 3, true);
    std::vector<Hit> above = TreeSearch(tree, {5.1, -1}, 3, true);
    ASSERT_EQ(below.size(), 3u);
    ASSERT_EQ(above.size(), 3u);
    EXPECT_EQ(below[0].second, 3);
    EXPECT_EQ(below[1].second, 2);
    EXPECT_EQ(below[2].second, 1);
    EXPECT_EQ(above[0].second, 1);
    EXPECT_EQ(above[1].second, 2);
    EXPECT_EQ(above[2].second, 3);
    EXPECT_EQ(below[0].first, below[2].first);
    // At the K-th place the tie goes to the case found first.
    EXPECT_EQ(TreeSearch(tree, {4.9, -1}, 2, true), (std::vector<Hit>{below[0], below[1]}));
    EXPECT_EQ(TreeSearch(tree, {5.1, -1}, 2, true), (std::vector<Hit>{above[0], above[1]}));

    // The cut slides to the nearest case when the midpoint leaves one side empty.
    Table slide({{0, 0}, {8, 1}, {9, 2}, {10, 3}}, {0, 0}, 0, 1);
    KNNKdTree slid(slide.preparation.get());
    ASSERT_TRUE(slid.Build({0}, -1, nullptr).IsOK());
    const KNNKdTree::NodeView high = slid.Node(slid.Node(0).high);
    EXPECT_EQ(slid.Node(0).cut, 5.0);
    EXPECT_EQ(high.cut, 8.0);
    EXPECT_EQ(slid.Node(high.low).cases, std::vector<int>{1});
}

TEST(KdTreeBuild, IdenticalCasesMakeOneLeafAndEqualSpreadsSplitTheEarlierFeature) {
    std::vector<std::vector<double>> same;
    for (int i = 0; i < 10; ++i) {
        same.push_back({0.5, -2.0, static_cast<double>(i)});
    }
    Table identical(same, {0, 0, 0}, 0, 2);
    KNNKdTree tree(identical.preparation.get());
    ASSERT_TRUE(tree.Build({0, 1}, -1, nullptr).IsOK());
    ASSERT_EQ(tree.NodeCount(), 1);
    EXPECT_EQ(tree.Node(0).cases, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(TreeSearch(tree, {0.5, -2.0, 3}, 4, false).size(), 4u);
    EXPECT_EQ(TreeSearch(tree, {0.5, -2.0, 3}, 9, false).size(), 9u);

    Table square({{0, 0, 0}, {10, 10, 1}, {3, 7, 2}, {7, 3, 3}}, {0, 0, 0}, 0, 2);
    KNNKdTree first(square.preparation.get());
    ASSERT_TRUE(first.Build({1, 0}, -1, nullptr).IsOK());
    EXPECT_EQ(first.Node(0).column, 1);
    ASSERT_TRUE(first.Build({0, 1}, -1, nullptr).IsOK());
    EXPECT_EQ(first.Node(0).column, 0);
    // Candidates come from the cell's spread: below the root, x spans a cell of 10 (cases 0 ... 6)
    // and y one of 9.95 (cases 0 ... 9.95), so x is split although its cases spread less.
    Table cell({{0, 5, 0}, {4, 0, 1}, {6, 9.95, 2}, {20, 5, 3}}, {0, 0, 0}, 0, 2);
    KNNKdTree narrow(cell.preparation.get());
    ASSERT_TRUE(narrow.Build({0, 1}, -1, nullptr).IsOK());
    EXPECT_EQ(narrow.Node(1).column, 0);
    // A weight stretches its axis: the heavier column now has the larger spread.
    const std::vector<double> heavier{1.0, 1.5};
    ASSERT_TRUE(first.Build({0, 1}, -1, &heavier).IsOK());
    EXPECT_EQ(first.Node(0).column, 1);
}

// Category u against the rest, u holding closest to half the node's cases.
TEST(KdTreeBuild, CategoricalOnlyNodesSplitOneCategoryFromTheRest) {
    Table table({{0, 0}, {1, 1}, {1, 2}, {1, 3}, {2, 4}, {2, 5}, {2, 6}, {2, 7}}, {3, 0}, 0, 1);
    KNNKdTree tree(table.preparation.get());
    ASSERT_TRUE(tree.Build({0}, -1, nullptr).IsOK());
    const KNNKdTree::NodeView root = tree.Node(0);
    EXPECT_FALSE(root.continuous);
    EXPECT_EQ(root.cut, 2.0);
    EXPECT_EQ(tree.Node(root.high).cases, (std::vector<int>{4, 5, 6, 7}));
    const KNNKdTree::NodeView rest = tree.Node(root.low);
    EXPECT_EQ(rest.cut, 0.0);
    EXPECT_EQ(tree.Node(rest.low).cases, (std::vector<int>{3, 1, 2}));
    EXPECT_EQ(BuiltOrder(tree), (std::vector<int>{3, 1, 2, 0, 4, 5, 6, 7}));

    // A mismatch costs 2 * w, unsquared, under both metrics.
    const std::vector<Hit> hits = TreeSearch(tree, {0, -1}, 2, true);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0], Hit(0.0, 0));
    EXPECT_EQ(hits[1], Hit(std::sqrt(2.0), 3));
}

TEST(KdTreeBuild, FoldLeftOutAlsoInColumnZeroAndWeightsKeptAcrossBuilds) {
    std::vector<std::vector<double>> rows = RandomRows(60, {3, 0, 0, 0}, 7, false);
    Table table(rows, {3, 0, 0, 0}, 0, 3, 0);
    KNNKdTree tree(table.preparation.get());
    const std::vector<double> weights{2.0, 0.5};
    ASSERT_TRUE(tree.Build({1, 2}, 1, &weights).IsOK());
    std::vector<int> expected;
    for (int i = 0; i < 60; ++i) {
        if (rows[static_cast<size_t>(i)][0] != 1.0) {
            expected.push_back(i);
        }
    }
    std::vector<int> built = BuiltOrder(tree);
    std::sort(built.begin(), built.end());
    EXPECT_EQ(built, expected);
    for (const Hit& hit : TreeSearch(tree, rows[5], 59, true)) {
        EXPECT_NE(rows[static_cast<size_t>(hit.second)][0], 1.0);
    }

    ASSERT_TRUE(tree.Build({1, 2}, -1, nullptr).IsOK());
    EXPECT_EQ(tree.CaseCount(), 60);
    EXPECT_EQ(tree.Weights()[1], 2.0);
    EXPECT_EQ(tree.Weights()[2], 0.5);
    EXPECT_EQ(tree.Weights()[0], 1.0);
}

// Random continuous data have no ties, so the exhaustive search fixes the answer completely.
TEST(KdTreeSearch, MatchesExhaustiveSearchOnContinuousData) {
    const std::vector<int> kinds{0, 0, 0, 0};
    const std::vector<std::vector<double>> small = RandomRows(40, kinds, 11, false);
    // One far-away case puts every search on the path that guards against overflow.
    std::vector<std::vector<double>> far = small;
    far[7][1] = 1e120;
    for (const std::vector<std::vector<double>>& rows : {small, far}) {
        for (int metric : {0, 1}) {
            Table table(rows, kinds, metric, 3);
            KNNKdTree tree(table.preparation.get());
            const std::vector<std::vector<double>> weightSets{{1.0, 1.0, 1.0}, {0.3, 2.5, 0.0}};
            for (const std::vector<double>& weights : weightSets) {
                ASSERT_TRUE(tree.Build({2, 0, 1}, -1, &weights).IsOK());
                RecursiveSearch recursive(tree, table, {2, 0, 1});
                std::vector<std::vector<double>> queries(small.begin(), small.begin() + 8);
                queries.push_back({3.0, -2.5, 0.1, -1});  // outside the data on two axes
                queries.push_back({-4.0, 4.0, 9.0, -1});
                for (const std::vector<double>& q : queries) {
                    for (int K = 1; K < 40; ++K) {
                        for (bool self : {false, true}) {
                            const std::vector<Hit> hits = TreeSearch(tree, q, K, self);
                            ASSERT_EQ(hits, Exhaustive(tree, table, {2, 0, 1}, q, K, self))
                                << "metric " << metric << " K " << K << " self " << self;
                            ASSERT_EQ(hits, recursive.Run(q, K, self));
                        }
                    }
                }
                // So far out that all distances round alike: only the traversal fixes order.
                const std::vector<double> remote{1e120, 0.2, -0.3, -1};
                for (int K : {1, 6, 39}) {
                    ASSERT_EQ(TreeSearch(tree, remote, K, false), recursive.Run(remote, K, false));
                }
            }
        }
    }
}

// The search has kernels with the feature count built in (1 to 5 continuous features), each in
// a form for weights that are all 1 and one for other weights; every one of them must give the
// defined answer, here on 16-case blocks and deeper trees than the small fixtures reach.
TEST(KdTreeSearch, EveryFixedFeatureCountMatchesTheReferences) {
    const std::vector<int> kinds{0, 0, 0, 0, 0, 0, 0};
    const std::vector<std::vector<double>> rows = RandomRows(700, kinds, 23, false);
    for (int metric : {0, 1}) {
        Table table(rows, kinds, metric, 6);
        KNNKdTree tree(table.preparation.get());
        for (size_t count = 1; count <= 6; ++count) {
            const std::vector<int> features{4, 1, 0, 3, 2, 5};
            const std::vector<int> used(features.begin(), features.begin() + count);
            const std::vector<double> unit(count, 1.0);
            std::vector<double> other(count, 1.0);
            other[count / 2] = 2.75;
            for (const std::vector<double>* weights :
                 std::vector<const std::vector<double>*>{&unit, &other}) {
                ASSERT_TRUE(tree.Build(used, -1, weights).IsOK());
                RecursiveSearch recursive(tree, table, used);
                for (size_t i = 0; i < rows.size(); i += 23) {
                    for (int K : {1, 5, 40}) {
                        const std::vector<Hit> hits = TreeSearch(tree, rows[i], K, false);
                        ASSERT_EQ(hits, recursive.Run(rows[i], K, false))
                            << count << " features, metric " << metric << ", row " << i;
                        ASSERT_EQ(hits, Exhaustive(tree, table, used, rows[i], K, false));
                    }
                }
            }
        }
    }
}

// Enough cases that the tree's buffers outgrow small allocations, and builds that grow and
// shrink them (fold left out, all cases, the other fold): buffers are reused without being
// cleared, so nothing from an earlier or smaller build may show through.
TEST(KdTreeSearch, LargeTreesRebuiltInPlaceMatchTheReferences) {
    const std::vector<int> kinds{0, 0, 2, 0};
    const std::vector<std::vector<double>> rows = RandomRows(90000, kinds, 3, false);
    Table table(rows, kinds, 0, 3, 2);
    KNNKdTree tree(table.preparation.get());
    for (int fold : {1, -1, 0}) {
        ASSERT_TRUE(tree.Build({0, 1}, fold, nullptr).IsOK());
        ASSERT_GT(tree.CaseCount(), 40000);
        RecursiveSearch recursive(tree, table, {0, 1}, fold);
        for (size_t i = 0; i < rows.size(); i += 997) {
            const std::vector<Hit> hits = TreeSearch(tree, rows[i], 10, false);
            ASSERT_EQ(hits, recursive.Run(rows[i], 10, false)) << fold << " " << i;
            ASSERT_EQ(hits, Exhaustive(tree, table, {0, 1}, rows[i], 10, false))
                << fold << " " << i;
        }
    }
}

// Small integer coordinates and categories produce many ties; the recursive reference fixes
// their order, the exhaustive search the distances.
TEST(KdTreeSearch, TieHeavyMixedDataFollowsTheTraversalOrder) {
    const std::vector<int> kinds{0, 3, 0, 4, 0};
    const std::vector<std::vector<double>> rows = RandomRows(120, kinds, 5, true);
    const std::vector<int> features{3, 0, 1, 2};
    for (int metric : {0, 1}) {
        Table table(rows, kinds, metric, 4);
        KNNKdTree tree(table.preparation.get());
        const std::vector<double> weights{0.5, 1.0, 3.0, 0.0};
        for (const std::vector<double>* w :
             {static_cast<const std::vector<double>*>(nullptr), &weights}) {
            ASSERT_TRUE(tree.Build(features, -1, w).IsOK());
            RecursiveSearch recursive(tree, table, features);
            for (size_t i = 0; i < rows.size(); i += 7) {
                for (int K : {1, 2, 5, 17, 119}) {
                    for (bool self : {false, true}) {
                        const std::vector<Hit> hits = TreeSearch(tree, rows[i], K, self);
                        ASSERT_EQ(hits, recursive.Run(rows[i], K, self)) << i << " " << K;
                        const std::vector<Hit> all =
                            Exhaustive(tree, table, features, rows[i], K, self);
                        ASSERT_EQ(hits.size(), all.size());
                        for (size_t h = 0; h < hits.size(); ++h) {
                            ASSERT_EQ(hits[h].first, all[h].first);
                        }
                    }
                }
            }
        }
    }
}

// Integer coordinates on a grid give many equal distances inside blocks, so the block search
// often has to put several candidates in descent order, worked out from the block's stored
// splits; every such order must be the node-by-node walk's.
TEST(KdTreeSearch, GridDataFollowTheTraversalOrderInsideBlocks) {
    std::mt19937 random(5);
    for (int features : {1, 2, 3}) {
        std::vector<std::vector<double>> rows;
        for (int i = 0; i < 700; ++i) {
            std::vector<double> row;
            for (int f = 0; f < features; ++f) {
                row.push_back(static_cast<double>(random() % (f == 0 ? 40 : 9)));
            }
            row.push_back(i);
            rows.push_back(row);
        }
        std::vector<int> kinds(static_cast<size_t>(features) + 1, 0);
        std::vector<int> used(static_cast<size_t>(features));
        std::iota(used.begin(), used.end(), 0);
        for (int metric : {0, 1}) {
            Table table(rows, kinds, metric, features);
            KNNKdTree tree(table.preparation.get());
            ASSERT_TRUE(tree.Build(used, -1, nullptr).IsOK());
            RecursiveSearch recursive(tree, table, used);
            for (size_t i = 0; i < rows.size(); i += 3) {
                for (int K : {2, 6, 15}) {
                    ASSERT_EQ(TreeSearch(tree, rows[i], K, false), recursive.Run(rows[i], K, false))
                        << features << " features, case " << i << ", K " << K;
                }
            }
        }
    }
}

// Tight clusters moved away from the origin: the further out, the more distances lie within
// the rounding margin of each other, which sends blocks down their careful paths (redone in
// descent order, or the whole search node by node). The answer must never change.
TEST(KdTreeSearch, ClusteredDataMatchTheRecursiveSearchAtEveryOffset) {
    std::mt19937 random(21);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<std::vector<double>> base;
    for (int i = 0; i < 1500; ++i) {
        const double centre = (i % 6) * 0.3;
        base.push_back({centre + 0.01 * normal(random), 0.5 * centre + 0.01 * normal(random),
                        static_cast<double>(i)});
    }
    for (double offset : {0.0, 1e4, 1e6}) {
        std::vector<std::vector<double>> rows = base;
        for (std::vector<double>& row : rows) {
            row[0] += offset;
        }
        Table table(rows, {0, 0, 0}, 0, 2);
        KNNKdTree tree(table.preparation.get());
        ASSERT_TRUE(tree.Build({0, 1}, -1, nullptr).IsOK());
        RecursiveSearch recursive(tree, table, {0, 1});
        for (const std::vector<double>& q : rows) {
            ASSERT_EQ(TreeSearch(tree, q, 10, false), recursive.Run(q, 10, false)) << offset;
        }
        if (offset == 1e6) {
            EXPECT_GT(tree.UndecidedSearches(), 0);
        }
    }
}

TEST(KdTreeSearch, SelfExclusionUsesTheCaseIdentifierAtDistanceZero) {
    // Cases 0 and 1 coincide; the identifier (column 1) tells them apart.
    Table table({{1.0, 10}, {1.0, 11}, {4.0, 12}}, {0, 0}, 0, 1);
    KNNKdTree tree(table.preparation.get());
    ASSERT_TRUE(tree.Build({0}, -1, nullptr).IsOK());
    std::vector<Hit> hits = TreeSearch(tree, {1.0, 11.0}, 2, false);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0], Hit(0.0, 0));
    EXPECT_EQ(hits[1], Hit(3.0, 2));
    EXPECT_EQ(TreeSearch(tree, {1.5, 11.0}, 3, false).size(), 3u);  // same id, not the case
    hits = TreeSearch(tree, {1.0, 11.0}, 2, true);
    EXPECT_EQ(hits[0].first, 0.0);
    EXPECT_EQ(hits[1].first, 0.0);
    // The stored identifier is truncated before the comparison.
    Table fractional({{1.0, 10.7}, {2.0, 11}}, {0, 0}, 0, 1);
    KNNKdTree other(fractional.preparation.get());
    ASSERT_TRUE(other.Build({0}, -1, nullptr).IsOK());
    EXPECT_EQ(TreeSearch(other, {1.0, 10.0}, 1, false)[0].second, 1);
}

// A search for threads that share the tree gives Search's list from scratch of its own, and
// says so when it needs the node records that only Search (the tree's owner) may make: here
// for queries far out, whose walk guards against overflow.
TEST(KdTreeSearch, SharedSearchGivesTheListOfSearchOrAsksForTheNodeRecords) {
    const std::vector<int> kinds{0, 0, 0, 0};
    const std::vector<std::vector<double>> rows = RandomRows(300, kinds, 5, false);
    Table table(rows, kinds, 0, 3);
    KNNKdTree tree(table.preparation.get());
    ASSERT_TRUE(tree.Build({0, 1, 2}, -1, nullptr).IsOK());
    KNNKdTree::SearchScratch scratch;
    for (int K : {1, 7, 40}) {
        for (const double* row : table.Rows()) {
            const NeighborList* shared = tree.SearchShared(scratch, row, K, false);
            ASSERT_NE(shared, nullptr);
            const std::vector<Hit> hits = Results(*shared);
            ASSERT_EQ(hits, Results(*tree.Search(row, K, false)));
        }
    }
    const std::vector<double> remote{1e120, 0.2, -0.3, -1};
    ASSERT_TRUE(tree.Build({0, 1, 2}, -1, nullptr).IsOK());
    EXPECT_EQ(tree.SearchShared(scratch, remote.data(), 5, false), nullptr);
    const std::vector<Hit> hits = TreeSearch(tree, remote, 5, false);  // makes the records
    const NeighborList* shared = tree.SearchShared(scratch, remote.data(), 5, false);
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(Results(*shared), hits);
}

TEST(KdTreeSearch, OverflowEmptiesTheListAndTheListIsReused) {
    const std::vector<std::vector<double>> rows = RandomRows(30, {0, 0, 0}, 3, false);
    Table table(rows, {0, 0, 0}, 0, 2);
    KNNKdTree tree(table.preparation.get());
    ASSERT_TRUE(tree.Build({0, 1}, -1, nullptr).IsOK());
    NeighborList* list = tree.Search(rows[0].data(), 5, false);
    EXPECT_EQ(list->count, 5);
    EXPECT_EQ(list->entries.size(), 6u);
    EXPECT_EQ(tree.Search(rows[1].data(), 5, false), list);
    EXPECT_EQ(tree.Search(rows[1].data(), 3, false)->entries.size(), 4u);
    EXPECT_EQ(tree.Search(std::vector<double>{1e200, 0.0, -1}.data(), 3, false)->count, 0);

    // Huge values inside the data: a cut far from the query overflows too.
    std::vector<std::vector<double>> wide = rows;
    wide[4][0] = 1e200;
    wide[9][0] = -1e200;
    Table huge(wide, {0, 0, 0}, 0, 2);
    KNNKdTree hugeTree(huge.preparation.get());
    ASSERT_TRUE(hugeTree.Build({0, 1}, -1, nullptr).IsOK());
    RecursiveSearch recursive(hugeTree, huge, {0, 1});
    EXPECT_TRUE(recursive.Run(rows[0], 3, false).empty());
    EXPECT_EQ(hugeTree.Search(rows[0].data(), 3, false)->count, 0);

    // City block never overflows.
    Table city(wide, {0, 0, 0}, 1, 2);
    KNNKdTree cityTree(city.preparation.get());
    ASSERT_TRUE(cityTree.Build({0, 1}, -1, nullptr).IsOK());
    EXPECT_EQ(cityTree.Search(rows[0].data(), 29, false)->count, 29);
}

TEST(KdTreeDisplay, PrintsTreeAndNullTree) {
    Table table({{0, 0}, {10, 1}}, {0, 0}, 0, 1);
    KNNKdTree tree(table.preparation.get());
    ASSERT_TRUE(tree.Build({0}, -1, nullptr).IsOK());
    std::ostringstream out;
    VelDisplay_940::SetOutStream(out);
    tree.Display();
    tree.DisplayTree(false);
    tree.Clear();
    tree.DisplayPoints(false);
    VelDisplay_940::SetOutStream(std::cout);
    const std::string text = out.str();
    EXPECT_NE(text.find("one point: 10 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Bound: (10, 0) (0, 0)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("    Node Num: 0\nSplit cd: 0\ncv: 5\nlbnd: 0\nhbnd: 10\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("    ..Leaf n: 1\nNode Num: 2\nLeaves are: 1\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("The leaves are: 0\nEnd of dump the entire leaves\n"), std::string::npos);
    EXPECT_NE(text.find("Tree status\n    Null tree.\n"), std::string::npos);
    EXPECT_EQ(tree.Search(std::vector<double>{0, 0}.data(), 1, true)->count, 0);
}

}  // namespace
}  // namespace KNN_800
