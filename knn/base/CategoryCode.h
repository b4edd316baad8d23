// The category number that a stored value stands for.
#pragma once

#include <climits>

namespace KNN_800 {

// The value as an int by truncation toward zero, or -1 when it cannot be represented as one
// (not a number, infinite or beyond the int range): the conversion stays defined for any double.
inline int CategoryCode(double value) {
    if (!(value > static_cast<double>(INT_MIN) - 1.0 &&
          value < static_cast<double>(INT_MAX) + 1.0)) {
        return -1;
    }
    return static_cast<int>(value);
}

}  // namespace KNN_800
