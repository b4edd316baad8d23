// Reading decimal numbers the same way wherever the host reads them.
#pragma once

#include <charconv>

#include "VelExport.h"

namespace VelCommon_940 {

// std::from_chars for a double in the general format (C locale, no plus sign), except that a
// number too close to zero for a double reads as zero with its sign instead of failing: the
// nearest double, as decimal text is usually read (std::from_chars already gives the nearest
// subnormal where that is not zero). Only a magnitude beyond the largest double still gives
// std::errc::result_out_of_range.
VEL_API std::from_chars_result DecimalToDouble(const char* first, const char* last, double& value);

}  // namespace VelCommon_940
