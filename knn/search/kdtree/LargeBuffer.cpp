// Huge-page blocks for the kd-tree's large arrays, and the process-wide cache of blocks given
// back (see LargeBuffer.h).
#include "knn/search/kdtree/LargeBuffer.h"

#include <cstdint>
#include <iterator>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace KNN_800 {

namespace kdtree {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

size_t Rounded(size_t bytes) {
    return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

void UnmapBlock(void* block, size_t bytes);

// Set once the kept blocks are gone, when the library is unloaded or the process ends; a
// buffer freed after that (by an object the host destroys later) is given back at once.
bool keptGone = false;

// Blocks given back, kept for the next request of the same size. Destroying the list gives
// them back to the system, so that unloading the library leaves nothing behind.
struct KeptBlocks {
    ~KeptBlocks() {
        for (const auto& [block, size] : blocks) {
            UnmapBlock(block, size);
        }
        keptGone = true;
    }
    std::mutex mutex;
    std::vector<std::pair<void*, size_t>> blocks;  // oldest first
    size_t bytes = 0;
};

KeptBlocks* Kept() {
    static KeptBlocks kept;
    return keptGone ? nullptr : &kept;
}

void* MapBlock(size_t bytes) {
#if defined(__linux__)
    // Map one huge page more than needed and trim both ends, which leaves a block on a 2 MB
    // boundary.
    const size_t mapped = bytes + kHugePage;
    void* raw = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) {
        throw std::bad_alloc();
    }
    char* const start = static_cast<char*>(raw);
    const uintptr_t address = reinterpret_cast<uintptr_t>(start);
    char* const block = start + (kHugePage - address % kHugePage) % kHugePage;
    if (block > start) {
        munmap(start, static_cast<size_t>(block - start));
    }
    char* const end = block + bytes;
    if (end < start + mapped) {
        munmap(end, static_cast<size_t>(start + mapped - end));
    }
#if defined(MADV_HUGEPAGE)
    // Advice only: where the kernel has no huge page at hand, the block gets small pages.
    madvise(block, bytes, MADV_HUGEPAGE);
#endif
    return block;
#else
    return ::operator new (bytes, std::align_val_t{kHugePage});
#endif
}

void UnmapBlock(void* block, size_t bytes) {
#if defined(__linux__)
    munmap(block, bytes);
#else
    (void)bytes;
    ::operator delete (block, std::align_val_t{kHugePage});
#endif
}

}  // namespace

void* AllocateLarge(size_t bytes) {
    const size_t rounded = Rounded(bytes);
    if (KeptBlocks* kept = Kept()) {
        const std::lock_guard<std::mutex> lock(kept->mutex);
        for (auto it = kept->blocks.rbegin(); it != kept->blocks.rend(); ++it) {
            if (it->second == rounded) {
                void* block = it->first;
                kept->bytes -= rounded;
                kept->blocks.erase(std::next(it).base());
                return block;
            }
        }
    }
    return MapBlock(rounded);
}

void FreeLarge(void* block, size_t bytes) {
    const size_t rounded = Rounded(bytes);
    KeptBlocks* kept = Kept();
    if (rounded > kKeptBytes || kept == nullptr) {
        UnmapBlock(block, rounded);
        return;
    }
    std::vector<std::pair<void*, size_t>> released;
    {
        const std::lock_guard<std::mutex> lock(kept->mutex);
        kept->blocks.emplace_back(block, rounded);
        kept->bytes += rounded;
        while (kept->bytes > kKeptBytes) {
            released.push_back(kept->blocks.front());
            kept->bytes -= kept->blocks.front().second;
            kept->blocks.erase(kept->blocks.begin());
        }
    }
    for (const auto& [oldest, size] : released) {
        UnmapBlock(oldest, size);
    }
}

size_t KeptBytes() {
    KeptBlocks* kept = Kept();
    if (kept == nullptr) {
        return 0;
    }
    const std::lock_guard<std::mutex> lock(kept->mutex);
    return kept->bytes;
}

void ReleaseKept() {
    KeptBlocks* kept = Kept();
    if (kept == nullptr) {
        return;
    }
    std::vector<std::pair<void*, size_t>> released;
    {
        const std::lock_guard<std::mutex> lock(kept->mutex);
        released.swap(kept->blocks);
        kept->bytes = 0;
    }
    for (const auto& [block, size] : released) {
        UnmapBlock(block, size);
    }
}

}  // namespace kdtree

}  // namespace KNN_800
