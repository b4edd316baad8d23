// The answer of a neighbour search: the K nearest cases found, nearest first. Entry k is
// scratch room for insertion and never a result. While a search runs the distances are
// accumulated values (squared sums for the Euclidean metric); afterwards they are distances.
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
