// Prepared variables: one object per dictionary field that decides whether a record's value is
// usable, codes it for the prepared table (continuous values optionally rescaled to -1 ... 1,
// categories as their codes), counts categories and notices fields that never vary.
#pragma once

#include <vector>

#include "Record.h"
#include "VelStatus.h"

namespace KNN_800 {

class IKNNVariable {
public:
    virtual ~IKNNVariable() = default;
    // Appends this field's coded value for one training case to `data`.
    virtual VelCommon_940::VelStatus AddTrainingValue(const VelCommon_940::Record& record,
                                                      std::vector<double>& data) = 0;
    // Writes this field's coded value into row[index]; false when the value is unusable.
    virtual bool CodeValue(const VelCommon_940::Record& record, std::vector<double>& row) = 0;
    // Per-category counts of the valid training cases; null for a continuous field.
    virtual const std::vector<int>* GetCategoryCounts() const = 0;
    virtual void SetUsed(bool used) = 0;
    virtual bool IsInvalidValue(const VelCommon_940::Record& record) const = 0;
    virtual bool IsConstant() const = 0;
    virtual void Reserved() {}
};

}  // namespace KNN_800
