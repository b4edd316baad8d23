// The algorithm's stop signal: a flag the host may raise at any time, from any thread
// (Interrupt), and an optional host checker that is asked while the flag is clear. A probe for
// a thread other than the host's calling thread has no checker and follows a leader: it stops
// when the leader's flag is raised (ShouldStop never asks the host from such a thread).
#pragma once

#include <atomic>

#include "HostInterfaces.h"

namespace KNN_800 {

struct InterruptionProbe {
    std::atomic<bool> stop{false};
    VelCommon_940::InterruptChecker* checker = nullptr;
    const InterruptionProbe* leader = nullptr;

    // True when the work should stop; once true, it stays true. The checker's answer only
    // ever raises the flag: a "go on" must not clear a flag that Interrupt raised meanwhile.
    bool ShouldStop() {
        if (!stop.load(std::memory_order_relaxed) && checker != nullptr &&
            checker->IsInterrupted()) {
            stop.store(true, std::memory_order_relaxed);
        }
        if (leader != nullptr && leader->stop.load(std::memory_order_relaxed)) {
            return true;
        }
        return stop.load(std::memory_order_relaxed);
    }
};

}  // namespace KNN_800
