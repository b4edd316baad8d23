// Ctrl-C (and termination signals) ask the running work to stop instead of killing the
// program, so that it can remove its temporary files and leave no partial output behind.
#pragma once

#include "HostInterfaces.h"

namespace knncli {

// Installs handlers for SIGINT, SIGTERM and SIGHUP that only raise a flag.
void InstallInterruptHandlers();
// True once one of those signals has arrived.
bool InterruptRequested();

// Hands the flag to the component, which asks it between records and units of work.
class SignalInterruptChecker : public VelCommon_940::InterruptChecker {
public:
    bool IsInterrupted() override { return InterruptRequested(); }
};

}  // namespace knncli
