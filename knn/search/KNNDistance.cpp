#include "knn/search/KNNDistance.h"

#include <cmath>

#include "VelMV.h"
#include "VelPower.h"
#include "knn/base/StatusCodes.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;

VelStatus KNNEuclideanDis::Contribution(double difference, double weight, bool square,
                                        double* out) const {
    if (square) {
        const double q = VelMath_940::VelPower::Multiply(difference, difference);
        if (VelCommon_940::VelMV::IsMissing(q)) {
            return Error(Code::NoNeighbour);
        }
        *out = q * weight;
    } else {
        *out = difference * weight;
    }
    return VelStatus();
}

double KNNEuclideanDis::Finish(double sum, double factor) const {
    return std::sqrt(sum) * factor;
}

double KNNEuclideanDis::AxisOffset(double a, double b, double weight) const {
    return std::sqrt(weight) * (a - b);
}

VelStatus KNNCityblockDis::Contribution(double difference, double weight, bool /*square*/,
                                        double* out) const {
    *out = std::fabs(difference) * weight;
    return VelStatus();
}

double KNNCityblockDis::Finish(double sum, double factor) const {
    return sum * factor;
}

double KNNCityblockDis::AxisOffset(double a, double b, double weight) const {
    return (a - b) * weight;
}

}  // namespace KNN_800
