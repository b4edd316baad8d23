// The fork-join helper of the threaded passes, where the passes' own tests do not reach: an
// exception on a thread other than the caller's reaches the caller after all threads are
// joined, and a flag raised meanwhile stops every thread.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "knn/base/ParallelChunks.h"

namespace {

TEST(RunChunks, CarriesAnExceptionToTheCallerAndStopsOnTheFlag) {
    // The caller's first chunk waits for the throw, so that the throw comes first.
    std::atomic<bool> thrown{false};
    EXPECT_THROW(KNN_800::RunChunks(3, 100000, nullptr,
                                    [&](int lane, size_t) {
                                        if (lane != 0) {
                                            thrown.store(true);
                                            throw std::length_error("from a thread");
                                        }
                                        while (!thrown.load()) {
                                            std::this_thread::yield();
                                        }
                                    }),
                 std::length_error);

    KNN_800::InterruptionProbe probe;
    std::atomic<int> ran{0};
    EXPECT_FALSE(KNN_800::RunChunks(4, 100000, &probe, [&](int, size_t c) {
        ++ran;
        if (c == 10) {
            probe.stop.store(true);
        }
    }));
    EXPECT_LT(ran.load(), 100000);
}

}  // namespace
