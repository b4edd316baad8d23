// What every consumer of neighbours talks to: build over a feature list (optionally leaving
// one fold out and weighting features), then search any number of times.
#pragma once

#include <vector>

#include "VelStatus.h"
#include "knn/search/NeighborList.h"

namespace KNN_800 {

class IKNNNearestNeighbor {
public:
    virtual ~IKNNNearestNeighbor() = default;
    // `features`: dictionary indices of the selected features; `foldValue`: the fold left out,
    // -1 for none; `weights`: one weight per feature in list order, or null to keep the
    // current per-column weights.
    virtual VelCommon_940::VelStatus Build(const std::vector<int>& features, int foldValue,
                                           const std::vector<double>* weights) = 0;
    // The K nearest cases to `query` (a row in prepared coordinates), nearest first. With
    // `includeSelf` false a case at distance 0 that carries the query's case identifier is
    // skipped. The list belongs to the searcher and is overwritten by its next search; on
    // failure its count is 0.
    //
    // Ties: of two cases at the same distance, the one the search finds first comes first, and
    // a case found later never displaces an equal one, so at the K-th place the earlier one
    // stays in. The kd-tree finds cases depth first from the root: at every split the child on
    // the query's side of the cut first (continuous: a query exactly on the cut takes the high
    // child; categorical: the child of the split's category when the query has that category),
    // the other child afterwards and only when it may hold a case strictly nearer than the
    // K-th found so far; within a leaf (one case, or several that coincide on every feature),
    // in the order the build stored them. Why this rule: the order then depends only on the
    // data, the build (features, weights, fold left out) and the query, so the neighbours, and
    // the votes, medians and model documents made from them, are identical run to run, and the
    // tree's fast block walk can be held to give exactly the list of its node-by-node walk
    // (kdtree/SearchKernel.h). It costs nothing: insertion compares distances only, and a
    // subtree that can offer no more than the K-th distance is never entered.
    virtual NeighborList* Search(const double* query, int K, bool includeSelf) = 0;
    virtual void Clear() = 0;
    virtual VelCommon_940::VelStatus GetStatus() const = 0;
    virtual void Display() = 0;
};

}  // namespace KNN_800
