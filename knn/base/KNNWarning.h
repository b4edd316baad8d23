// The process-wide list of warnings: conditions that did not stop a run but that the host
// should hear about (a reduced feature count or K). Each warning is kept once.
#pragma once

#include <vector>

#include "VelStatus.h"

namespace KNN_800 {

class KNNWarning {
public:
    virtual ~KNNWarning() = default;

    // The one collector of the process, created on first use.
    static KNNWarning& Instance();

    void Clear() { warnings.clear(); }
    // Appends `status` unless an equal status is already listed.
    void AddUnique(const VelCommon_940::VelStatus& status);
    const std::vector<VelCommon_940::VelStatus>& List() const { return warnings; }

private:
    KNNWarning() = default;
    std::vector<VelCommon_940::VelStatus> warnings;
};

}  // namespace KNN_800
