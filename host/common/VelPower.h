// Guarded arithmetic: a product that cannot be represented is reported as the missing value.
#pragma once

#include "VelExport.h"

namespace VelMath_940 {

class VEL_API VelPower {
public:
    // a * b, or VelMV::Missing() when the product overflows (or either factor is missing).
    static double Multiply(double a, double b);
};

}  // namespace VelMath_940
