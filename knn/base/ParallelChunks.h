// Fork-join over numbered chunks of work for the length of one call: the calling thread and up
// to `threads - 1` threads started here take chunks one at a time, and every thread started is
// joined before the call returns, so no thread of the component outlives the call that needs
// it (docs/architecture.md, "Threads", says why it is not a pool).
//
// The host's contract holds: only the calling thread asks the host's interruption checker (via
// InterruptionProbe::ShouldStop, before each of its chunks); the other threads read the stop
// flag that this raises, also before each chunk, so all stop within one chunk's time. What a
// chunk computes must not depend on which thread computes it or in which order the chunks run;
// the callers write per-case results into per-case slots and combine them afterwards in a fixed
// order, on the calling thread.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

#include "knn/base/InterruptionProbe.h"

namespace KNN_800 {

// The most threads a pass starts, whatever the setting asks for.
inline constexpr int kMaxThreads = 1024;

// The number of threads that the setting `requested` asks for: 0 means one per processor.
inline int ResolveThreadCount(int requested) {
    if (requested == 0) {
        const unsigned processors = std::thread::hardware_concurrency();
        return processors == 0 ? 1 : static_cast<int>(std::min<unsigned>(processors, kMaxThreads));
    }
    return std::clamp(requested, 1, kMaxThreads);
}

// How many threads a run over `chunks` chunks with `threads` allowed will use (lane numbers
// 0 ... n - 1; lane 0 is the calling thread).
inline int LanesFor(int threads, size_t chunks) {
    return static_cast<int>(
        std::clamp<size_t>(chunks, 1, static_cast<size_t>(std::max(threads, 1))));
}

// Runs work(lane, chunk) for chunk = 0 ... chunks - 1 on LanesFor(threads, chunks) threads.
// Returns false when the probe's flag was raised while the chunks ran (the chunks taken by then
// are run to their end, the others not at all), true when every chunk has run. An exception
// thrown by `work` on any thread stops the others at their next chunk and is thrown again here,
// on the calling thread, after all have been joined. When a thread cannot be started, the
// threads that were started share the work.
template <class Work>
bool RunChunks(int threads, size_t chunks, InterruptionProbe* probe, Work&& work) {
    const int lanes = LanesFor(threads, chunks);
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr failure;  // the first exception, written once under `failed`
    auto stopRaised = [&] {
        return failed.load(std::memory_order_relaxed) ||
               (probe != nullptr && probe->stop.load(std::memory_order_relaxed));
    };
    auto take = [&](int lane, bool isCaller) {
        try {
            for (;;) {
                const bool stop = isCaller ? (probe != nullptr && probe->ShouldStop()) ||
                                                 failed.load(std::memory_order_relaxed)
                                           : stopRaised();
                if (stop) {
                    return;
                }
                const size_t chunk = next.fetch_add(1, std::memory_order_relaxed);
                if (chunk >= chunks) {
                    return;
                }
                work(lane, chunk);
            }
        } catch (...) {
            if (!failed.exchange(true)) {
                failure = std::current_exception();
            }
        }
    };
    std::vector<std::thread> started;
    try {
        started.reserve(static_cast<size_t>(lanes - 1));
        for (int lane = 1; lane < lanes; ++lane) {
            started.emplace_back(take, lane, false);
        }
    } catch (const std::exception&) {
        // No memory or no thread to be had: the threads running so far do the work.
    }
    take(0, true);
    for (std::thread& thread : started) {
        thread.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    return next.load() >= chunks && !(probe != nullptr && probe->stop.load());
}

}  // namespace KNN_800
