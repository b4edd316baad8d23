// The answer of a neighbour search: the K nearest cases found, nearest first. Entry k is
// scratch room for insertion and never a result. While a search runs the distances are
// accumulated values (squared sums for the Euclidean metric); afterwards they are distances.
//
// Ties: entries at the same distance are in the order the search found them. A case is
// inserted after every entry at a distance not above its own, so it never goes before an equal
// entry, and in a full list a case at the K-th distance lands in the scratch entry instead of
// displacing the one found earlier. The order in which the kd-tree finds cases, and why the
// rule is kept, are in IKNNNearestNeighbor.h.
#pragma once

#include <cstdint>
#include <vector>

namespace KNN_800 {

struct Neighbor {
    double distance = 0.0;
    uint32_t caseIndex = 0;  // row of the prepared data
};

struct NeighborList {
    int k = 0;
    int count = 0;
    std::vector<Neighbor> entries;  // k + 1 slots
};

}  // namespace KNN_800
