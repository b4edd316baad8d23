#include "VelNumber.h"

#include <algorithm>

namespace VelCommon_940 {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Whether the decimal number [first, last) (sign, digits, point, exponent) is below 1 in
// magnitude. Only asked of numbers outside the double range, which lie far above 1 or far
// below it.
bool BelowOne(const char* first, const char* last) {
    const char* p = first;
    if (p != last && (*p == '-' || *p == '+')) {
        ++p;
    }
    // The digits lie in [10^(lead - 1), 10^lead): lead counts the digits before the point from
    // the first non-zero one, or is minus the zeros after the point before the first non-zero.
    long long lead = 0;
    bool significant = false;
    for (; p != last && IsDigit(*p); ++p) {
        significant = significant || *p != '0';
        if (significant) {
            ++lead;
        }
    }
    if (p != last && *p == '.') {
        for (++p; p != last && IsDigit(*p); ++p) {
            if (!significant && *p == '0') {
                --lead;
            }
            significant = significant || *p != '0';
        }
    }
    // An exponent beyond any text length decides alone, so it is capped there.
    constexpr long long kCap = 1'000'000'000'000'000;
    long long exponent = 0;
    if (p != last && (*p == 'e' || *p == 'E')) {
        ++p;
        const bool negative = p != last && *p == '-';
        if (p != last && (*p == '-' || *p == '+')) {
            ++p;
        }
        for (; p != last && IsDigit(*p); ++p) {
            exponent = std::min(exponent * 10 + (*p - '0'), kCap);
        }
        if (negative) {
            exponent = -exponent;
        }
    }
    return lead + exponent <= 0;
}

}  // namespace

std::from_chars_result DecimalToDouble(const char* first, const char* last, double& value) {
    std::from_chars_result result = std::from_chars(first, last, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range && BelowOne(first, result.ptr)) {
        value = first != last && *first == '-' ? -0.0 : 0.0;
        result.ec = std::errc();
    }
    return result;
}

}  // namespace VelCommon_940
