// Diagnostic print-out: labelled values written to one process-wide stream (std::cout until
// SetOutStream names another).
#pragma once

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "VelExport.h"

namespace VelDisplay_940 {

VEL_API void SetOutStream(std::ostream& out);
VEL_API std::ostream& OutStream();

// Writes `text` on a line of its own; `level` is accepted for compatibility and ignored.
VEL_API void DisplayText(const long& level, const char* text);
VEL_API void DisplayI(const char* label, int value);
VEL_API void DisplayD(const char* label, double value);
VEL_API void DisplayB(const char* label, bool value);
VEL_API void DisplayS(const char* label, const std::string& value);
VEL_API void DisplayIV(const char* label, const std::vector<int>& values);
// With `onePerLine` every value goes on its own line, otherwise all on the label's line.
VEL_API void DisplayDV(const char* label, const std::vector<double>& values,
                       bool onePerLine = false);
VEL_API void DisplayVPD(const char* label, const std::vector<std::pair<double, double>>& values);

}  // namespace VelDisplay_940
