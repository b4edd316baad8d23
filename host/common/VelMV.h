// The host's missing value. It is negative infinity, so its negation is larger than every
// distance the component can accumulate (the neighbour list uses -Missing() as the admission
// threshold of a list that is not full yet). NaN is treated as missing as well, so that a
// not-a-number never enters prepared data.
#pragma once

#include "VelExport.h"

namespace VelCommon_940 {

class VEL_API VelMV {
public:
    static double Missing();
    static bool IsMissing(double value);
};

}  // namespace VelCommon_940
