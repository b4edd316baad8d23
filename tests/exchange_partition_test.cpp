// The build's partition step against the two-pointer loop it replaces: the same exchanges in
// the same order, so that the cases end up in the same stored order (which fixes tie order).
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "knn/search/kdtree/ExchangePartition.h"

namespace KNN_800 {
namespace {

using Exchanges = std::vector<std::pair<int, int>>;

// The pointer loop as written in the definition of the build.
int PointerLoop(std::vector<char> passes, int start, Exchanges& done) {
    int left = start;
    int right = static_cast<int>(passes.size()) - 1;
    for (;;) {
        while (left <= right && passes[static_cast<size_t>(left)]) {
            ++left;
        }
        while (right >= left && !passes[static_cast<size_t>(right)]) {
            --right;
        }
        if (left >= right) {
            return left - start;
        }
        done.emplace_back(left, right);
        std::swap(passes[static_cast<size_t>(left)], passes[static_cast<size_t>(right)]);
    }
}

TEST(ExchangePartition, MakesTheSameExchangesAsThePointerLoop) {
    std::mt19937 random(7);
    std::vector<uint64_t> scratch;
    // Lengths around the 64-position words, all-pass and all-fail runs, a start offset, and
    // a scratch left over from a longer pass.
    for (int length : {0, 1, 2, 3, 63, 64, 65, 127, 128, 129, 200, 1000, 5}) {
        for (double share : {0.0, 0.03, 0.5, 0.97, 1.0}) {
            const int start = length % 3;
            std::bernoulli_distribution draw(share);
            std::vector<char> passes(static_cast<size_t>(start + length));
            for (size_t i = static_cast<size_t>(start); i < passes.size(); ++i) {
                passes[i] = draw(random) ? 1 : 0;
            }
            Exchanges expected;
            const int expectedCount = PointerLoop(passes, start, expected);

            std::vector<char> state = passes;
            Exchanges done;
            const int count = kdtree::ExchangePartition(
                start, start + length, [&](int p) { return state[static_cast<size_t>(p)] != 0; },
                [&](int a, int b) {
                    done.emplace_back(a, b);
                    std::swap(state[static_cast<size_t>(a)], state[static_cast<size_t>(b)]);
                },
                scratch);
            SCOPED_TRACE("length " + std::to_string(length) + ", share " + std::to_string(share));
            EXPECT_EQ(count, expectedCount);
            EXPECT_EQ(done, expected);
            for (int p = start; p < start + length; ++p) {
                EXPECT_EQ(state[static_cast<size_t>(p)] != 0, p < start + count) << p;
            }
        }
    }
}

}  // namespace
}  // namespace KNN_800
