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
    // The K nearest cases to `query` (a row in prepared coordinates). With `includeSelf`
    // false a case at distance 0 that carries the query's case identifier is skipped. The
    // list belongs to the searcher and is overwritten by its next search; on failure its
    // count is 0.
    virtual NeighborList* Search(const double* query, int K, bool includeSelf) = 0;
    virtual void Clear() = 0;
    virtual VelCommon_940::VelStatus GetStatus() const = 0;
    virtual void Display() = 0;
};

}  // namespace KNN_800
