// The algorithm's stop signal: a flag the host may raise at any time, from any thread
// (Interrupt), and an optional host checker that is asked while the flag is clear.
#pragma once

#include <atomic>

#include "HostInterfaces.h"

namespace KNN_800 {

struct InterruptionProbe {
    std::atomic<bool> stop{false};
    VelCommon_940::InterruptChecker* checker = nullptr;

    // True when the work should stop; once true, it stays true.
    bool ShouldStop() {
        if (!stop.load(std::memory_order_relaxed) && checker != nullptr) {
            stop.store(checker->IsInterrupted(), std::memory_order_relaxed);
        }
        return stop.load(std::memory_order_relaxed);
    }
};

}  // namespace KNN_800
