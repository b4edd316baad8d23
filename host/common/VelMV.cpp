#include "VelMV.h"

#include <cmath>
#include <limits>

#include "VelPower.h"

namespace VelCommon_940 {

double VelMV::Missing() {
    return -std::numeric_limits<double>::infinity();
}

bool VelMV::IsMissing(double value) {
    return std::isnan(value) || (std::isinf(value) && value < 0.0);
}

}  // namespace VelCommon_940

namespace VelMath_940 {

double VelPower::Multiply(double a, double b) {
    using VelCommon_940::VelMV;
    if (VelMV::IsMissing(a) || VelMV::IsMissing(b)) {
        return VelMV::Missing();
    }
    const double product = a * b;
    // Overflow to an infinity, and 0 * inf giving NaN, both leave nothing usable.
    return std::isfinite(product) ? product : VelMV::Missing();
}

}  // namespace VelMath_940
