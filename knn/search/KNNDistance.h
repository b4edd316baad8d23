// The two distance metrics. A metric turns one coordinate difference and the coordinate's
// weight into an additive contribution, turns an accumulated sum into a distance, and gives the
// scale of an axis (the factor the kd-tree multiplies coordinates by while it builds).
//
// The polymorphic family is the interface the rest of the component sees. The kd-tree's inner
// loops use the policy structs at the end of this file instead: the metric is resolved once per
// search and every per-coordinate step is inlined. Both forms compute exactly the same values.
#pragma once

#include <cfloat>
#include <cmath>

#include "VelStatus.h"

namespace KNN_800 {

class KNNDistance {
public:
    // Writes the contribution of one coordinate to `out`: the weighted square of `difference`
    // for the Euclidean metric when `square` is set, the weighted difference otherwise (city
    // block: the weighted absolute difference). A square that cannot be represented gives
    // status 200064 and leaves `out` untouched.
    virtual VelCommon_940::VelStatus Contribution(double difference, double weight, bool square,
                                                  double* out) const = 0;
    // Turns an accumulated sum into a distance.
    virtual double Finish(double sum, double factor) const = 0;
    // The signed offset a - b along an axis in the scale the tree builds in.
    virtual double AxisOffset(double a, double b, double weight) const = 0;
    virtual ~KNNDistance() = default;
};

class KNNEuclideanDis : public KNNDistance {
public:
    VelCommon_940::VelStatus Contribution(double difference, double weight, bool square,
                                          double* out) const override;
    double Finish(double sum, double factor) const override;
    double AxisOffset(double a, double b, double weight) const override;
};

class KNNCityblockDis : public KNNDistance {
public:
    VelCommon_940::VelStatus Contribution(double difference, double weight, bool square,
                                          double* out) const override;
    double Finish(double sum, double factor) const override;
    double AxisOffset(double a, double b, double weight) const override;
};

// Inline forms of the two metrics for the search kernels. `Square` returns false where the
// Euclidean Contribution fails; `Linear` is the unsquared contribution used for a category
// mismatch. The arithmetic (and its order) is the same as in the classes above.
struct EuclideanMetric {
    static constexpr bool kCanFail = true;
    static bool Square(double difference, double weight, double& out) {
        const double q = difference * difference;
        if (!(q <= DBL_MAX)) {  // overflow, or a missing (infinite / NaN) difference
            return false;
        }
        out = q * weight;
        return true;
    }
    // The same without the overflow test, for searches whose values are known to be small.
    static double SquareUnchecked(double difference, double weight) {
        return (difference * difference) * weight;
    }
    static double Linear(double difference, double weight) { return difference * weight; }
    static double Finish(double sum) { return std::sqrt(sum) * 1.0; }
    static double AxisFactor(double weight) { return std::sqrt(weight); }
};

struct CityBlockMetric {
    static constexpr bool kCanFail = false;
    static bool Square(double difference, double weight, double& out) {
        out = std::fabs(difference) * weight;
        return true;
    }
    static double SquareUnchecked(double difference, double weight) {
        return std::fabs(difference) * weight;
    }
    static double Linear(double difference, double weight) {
        return std::fabs(difference) * weight;
    }
    static double Finish(double sum) { return sum * 1.0; }
    static double AxisFactor(double weight) { return weight; }
};

}  // namespace KNN_800
