#include "VelStatus.h"

namespace VelCommon_940 {

VelStatus::VelStatus(long code, bool warning) : code_(code), warning_(warning) {}

bool VelStatus::operator==(const VelStatus& other) const {
    return code_ == other.code_ && warning_ == other.warning_;
}

void VelStatus::SetDiscreteDatum(unsigned index, long value) {
    if (index >= data_.size()) {
        // Slots skipped over read back as "no datum".
        data_.resize(static_cast<size_t>(index) + 1, -1);
    }
    data_[index] = value;
}

long VelStatus::GetDiscreteDatum(unsigned index) const {
    return index < data_.size() ? data_[index] : -1;
}

}  // namespace VelCommon_940
