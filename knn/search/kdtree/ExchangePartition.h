// The partition step of the kd-tree build: the two-pointer exchange, done without
// data-dependent branches.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace KNN_800 {

namespace kdtree {

namespace exchange_detail {

// The outcomes of `passes` at positions first ... last - 1 (at most 64) as bits from bit 0;
// the passing positions are added to `passed`.
template <class Passes>
uint64_t OutcomeWord(int first, int last, Passes& passes, int& passed) {
    uint64_t word = 0;
    for (int p = first; p < last; ++p) {
        const int ok = passes(p) ? 1 : 0;
        word |= static_cast<uint64_t>(ok) << (p - first);
        passed += ok;
    }
    return word;
}

}  // namespace exchange_detail

// Two-pointer exchange over positions start ... end - 1: from the left find a position that
// fails `passes`, from the right one that passes, `exchange` them, and go on inward until the
// pointers cross. Returns how many positions pass (they then come first).
//
// One scan records the outcomes as bits in `scratch` and counts the passing positions, P. The
// pointer loop exchanges the i-th failing position from the left with the i-th passing one from
// the right for as long as the first lies left of the second, which is exactly while the failing
// one lies below start + P and the passing one at or above it (the two regions hold equally
// many of each); the pairs are read off the bits. Each position is tested once, and the scratch
// takes one bit per position.
template <class Passes, class Exchange>
[[gnu::always_inline]] inline int ExchangePartition(int start, int end, Passes passes,
                                                    Exchange exchange,
                                                    std::vector<uint64_t>& scratch) {
    const int count = end - start;
    if (count <= 0) {
        return 0;
    }
    if (count <= 64) {
        // One word: the common case deep in the tree, without the word bookkeeping below.
        int passed = 0;
        const uint64_t word = exchange_detail::OutcomeWord(start, end, passes, passed);
        const uint64_t low = passed >= 64 ? ~uint64_t{0} : (uint64_t{1} << passed) - 1;
        uint64_t failing = ~word & low;
        uint64_t passing = word & ~low;
        while (failing != 0) {
            const int bit = 63 - __builtin_clzll(passing);
            exchange(start + __builtin_ctzll(failing), start + bit);
            failing &= failing - 1;
            passing &= ~(uint64_t{1} << bit);
        }
        return passed;
    }
    const size_t words = (static_cast<size_t>(count) + 63) / 64;
    if (scratch.size() < words) {
        scratch.resize(words);
    }
    uint64_t* const bits = scratch.data();
    int passed = 0;
    for (size_t w = 0; w < words; ++w) {
        const int first = start + static_cast<int>(w * 64);
        bits[w] = exchange_detail::OutcomeWord(first, std::min(end, first + 64), passes, passed);
    }

    // Bits of word w that lie below the boundary start + passed.
    const auto below = [passed](size_t w) {
        const int offset = passed - static_cast<int>(w * 64);
        return offset >= 64 ? ~uint64_t{0} : offset <= 0 ? 0 : (uint64_t{1} << offset) - 1;
    };
    // Failing positions below the boundary, ascending; passing ones at or above it, descending.
    size_t lowWord = 0;
    uint64_t failing = ~bits[0] & below(0);
    size_t highWord = words - 1;
    uint64_t passing = bits[highWord] & ~below(highWord);
    for (;;) {
        while (failing == 0) {
            if (++lowWord * 64 >= static_cast<size_t>(passed)) {
                return passed;
            }
            failing = ~bits[lowWord] & below(lowWord);
        }
        while (passing == 0) {
            --highWord;
            passing = bits[highWord] & ~below(highWord);
        }
        const int f = static_cast<int>(lowWord * 64) + __builtin_ctzll(failing);
        const int bit = 63 - __builtin_clzll(passing);
        exchange(start + f, start + static_cast<int>(highWord * 64) + bit);
        failing &= failing - 1;
        passing &= ~(uint64_t{1} << bit);
    }
}

}  // namespace kdtree

}  // namespace KNN_800
