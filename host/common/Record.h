// One row handed over by a record source: a field's value per dictionary position, as a double
// (a category code for a categorical field, -1 when such a value is missing; the host missing
// value for a missing continuous value).
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "VelExport.h"

namespace VelCommon_940 {

class VEL_API Record {
public:
    Record() = default;
    explicit Record(std::vector<double> values) : values_(std::move(values)) {}
    virtual ~Record();

    int Size() const { return static_cast<int>(values_.size()); }
    double operator[](int index) const { return values_[static_cast<std::size_t>(index)]; }

    std::vector<double>& Values() { return values_; }
    const std::vector<double>& Values() const { return values_; }

private:
    std::vector<double> values_;
};

}  // namespace VelCommon_940
