// The kd-tree's large buffers: blocks given back are reused for the next request of the same
// rounded size, and what is kept stays within its limit.
#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "knn/search/kdtree/LargeBuffer.h"

namespace KNN_800 {
namespace {

using kdtree::AllocateLarge;
using kdtree::FreeLarge;
using kdtree::KeptBytes;

constexpr size_t kMB = size_t{1} << 20;

TEST(LargeBuffer, ReusesBlocksOfTheSameRoundedSizeAndKeepsWithinTheLimit) {
    kdtree::ReleaseKept();
    const size_t before = KeptBytes();
    EXPECT_EQ(before, 0u);
    // 3 MB and 3.5 MB both round to 4 MB: the block comes back, aligned for huge pages and
    // writable to its end.
    char* first = static_cast<char*>(AllocateLarge(3 * kMB));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % (2 * kMB), 0u);
    first[4 * kMB - 1] = 1;
    FreeLarge(first, 3 * kMB);
    EXPECT_EQ(KeptBytes(), before + 4 * kMB);
    char* again = static_cast<char*>(AllocateLarge(3 * kMB + kMB / 2));
    EXPECT_EQ(again, first);
    EXPECT_EQ(KeptBytes(), before);
    // Another rounded size does not take it.
    FreeLarge(again, 4 * kMB);
    char* other = static_cast<char*>(AllocateLarge(6 * kMB));
    EXPECT_NE(other, first);
    EXPECT_EQ(KeptBytes(), before + 4 * kMB);
    FreeLarge(other, 6 * kMB);

    // Giving back more than the limit releases the oldest blocks first.
    std::vector<void*> blocks;
    for (size_t bytes = 0; bytes < 2 * kdtree::kKeptBytes; bytes += 8 * kMB) {
        blocks.push_back(AllocateLarge(8 * kMB));
    }
    for (void* block : blocks) {
        FreeLarge(block, 8 * kMB);
        EXPECT_LE(KeptBytes(), kdtree::kKeptBytes);
    }
    EXPECT_EQ(KeptBytes(), kdtree::kKeptBytes);
    // A block larger than the limit is never kept.
    const size_t kept = KeptBytes();
    FreeLarge(AllocateLarge(kdtree::kKeptBytes + kMB), kdtree::kKeptBytes + kMB);
    EXPECT_EQ(KeptBytes(), kept);
}

// A buffer that outgrows its block moves to a larger one and keeps its contents.
TEST(LargeBuffer, GrowingBufferKeepsItsValues) {
    kdtree::LargeBuffer<double> values;
    for (int i = 0; i < 400000; ++i) {
        values.push_back(i * 0.5);
    }
    for (int i = 0; i < 400000; i += 9999) {
        EXPECT_EQ(values[static_cast<size_t>(i)], i * 0.5);
    }
}

}  // namespace
}  // namespace KNN_800
