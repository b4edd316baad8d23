// Building the kd-tree: the features and their per-position tables, the cases (all, or those
// outside the held-out fold), their values copied in case order with the root cell, and the
// tree written from there (Splits.cpp). Also repeating a build to keep the node records.
#include <algorithm>
#include <cmath>
#include <numeric>

#include "VelMV.h"
#include "VelVarList.h"
#include "knn/base/StatusCodes.h"
#include "knn/data/IKNNVariable.h"
#include "knn/search/kdtree/KNNKdTree.h"
#include "knn/settings/KNNSettings.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;
using namespace kdtree;

KNNKdTree::KNNKdTree(KNNDataPreparation* preparation)
    : preparation(preparation), rows(&preparation->Rows()) {
    const KNNSettings& settings = preparation->Settings();
    variableCount = preparation->Dictionary().Size();
    euclidean = settings.DistMetric == 0;
    if (euclidean) {
        metric = std::make_unique<KNNEuclideanDis>();
    } else {
        metric = std::make_unique<KNNCityblockDis>();
    }
    weights.assign(static_cast<size_t>(variableCount), 1.0);
    foldColumn = settings.VFoldVariable;
    caseIdColumn = settings.CaseIDVariable;
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
    SetFeatureTables(featureWeights);
    SelectCases(foldValue);
    CopyValuesAndRootCell();
    valuesAreSmall = ValuesRuleOutOverflow();

    // The node records are kept when asked for, or when searches must walk them because the
    // values do not rule out overflow; otherwise only the search image is built.
    maxDepth = 0;
    nodesBuilt = keepNodes || !valuesAreSmall;
    nodes.clear();
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
    const size_t F = entries.size();
    for (size_t j = 0; j < F; ++j) {
        featureHigh[j] = bounds[static_cast<size_t>(entries[j].column)].first;
        featureLow[j] = bounds[static_cast<size_t>(entries[j].column)].second;
    }

    own.pending.resize(static_cast<size_t>(maxDepth) + 2);
    own.queryFeatures.resize(F);
    treeTolerance = RoundingTolerance(nullptr);
    return status;
}

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

// Takes the weights given (one per feature in list order; null keeps the current per-column
// weights) and fills the tables per feature position.
void KNNKdTree::SetFeatureTables(const std::vector<double>* featureWeights) {
    const size_t F = entries.size();
    if (featureWeights != nullptr) {
        const size_t n = std::min(F, featureWeights->size());
        for (size_t j = 0; j < n; ++j) {
            weights[static_cast<size_t>(entries[j].column)] = (*featureWeights)[j];
        }
    }
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
}

// Every prepared row, or those outside the held-out fold, in row order.
void KNNKdTree::SelectCases(int foldValue) {
    const std::vector<double*>& table = *rows;
    caseIndex.resize(table.size());
    std::iota(caseIndex.begin(), caseIndex.end(), 0);
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
}

// Feature values in case order, in one pass with the largest magnitude per feature and the
// root cell: the range of the scaled values (categorical features get (factor, 0) when the
// column varies; the same column twice takes its first feature's range). The root cell is
// also the tree's bounds, still in scaled units.
void KNNKdTree::CopyValuesAndRootCell() {
    const std::vector<double*>& table = *rows;
    const size_t F = entries.size();
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
    bounds.assign(static_cast<size_t>(variableCount), {0.0, 0.0});
    for (size_t j = 0; j < F; ++j) {
        bounds[static_cast<size_t>(entries[j].column)] = {cellHigh[j], cellLow[j]};
    }
}

// Whether the weights and the built values are small enough that no weighted square of a
// difference between them, nor a sum of such squares, can overflow.
bool KNNKdTree::ValuesRuleOutOverflow() const {
    for (size_t j = 0; j < entries.size(); ++j) {
        const double w = featureWeight[j];
        if (!(w >= 0.0 && w <= kSmallWeight)) {
            return false;
        }
        if (featureContinuous[j] && !(featureMaxAbs[j] <= kSmallValue)) {
            return false;
        }
    }
    return true;
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

}  // namespace KNN_800
