// Progress report handed to a host progress sink; the host queries it by measure name.
#pragma once

#include <string>

#include "VelExport.h"

namespace VelCommon_940 {

class VEL_API ProgressReport {
public:
    virtual ~ProgressReport();
    virtual int DiscreteMeasure(const std::string& name) = 0;
    virtual double ScaleMeasure(const std::string& name) = 0;
};

}  // namespace VelCommon_940
