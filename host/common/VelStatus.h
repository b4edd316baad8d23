// Outcome of every fallible host or component operation: OK, an error code or a warning code,
// with optional attached field indices ("discrete data") and an optional explanatory text.
#pragma once

#include <string>
#include <vector>

#include "VelExport.h"

namespace VelCommon_940 {

class VEL_API VelStatus {
public:
    VelStatus() = default;
    VelStatus(long code, bool warning);

    bool IsOK() const { return code_ == 0; }
    bool IsError() const { return code_ != 0 && !warning_; }
    bool IsWarning() const { return code_ != 0 && warning_; }
    long GetErrorCode() const { return code_; }

    // Two statuses are equal when code and warning flag agree; attached data and text are
    // detail and do not make a warning distinct.
    bool operator==(const VelStatus& other) const;
    bool operator!=(const VelStatus& other) const { return !(*this == other); }

    void SetDiscreteDatum(unsigned index, long value);
    // The datum at `index`, or -1 when none was attached there.
    long GetDiscreteDatum(unsigned index) const;

    // Free text that explains the status (for example which key or line of a settings
    // document was at fault). Empty when nothing more is known.
    const std::string& GetMessage() const { return message_; }
    void SetMessage(const std::string& message) { message_ = message; }

private:
    long code_ = 0;
    bool warning_ = false;
    std::vector<long> data_;
    std::string message_;
};

}  // namespace VelCommon_940
