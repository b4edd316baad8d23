#include "knn/search/LargeBuffer.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace KNN_800 {

namespace kdtree_memory {

namespace {
constexpr size_t kHugePage = size_t{2} << 20;
}

void* AllocateLarge(size_t bytes) {
    const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* block = ::operator new (rounded, std::align_val_t{kHugePage});
#if defined(MADV_HUGEPAGE)
    // Advice only: where the kernel has no huge page at hand, the buffer gets small pages.
    madvise(block, rounded, MADV_HUGEPAGE);
#endif
    return block;
}

void FreeLarge(void* block) {
    ::operator delete (block, std::align_val_t{kHugePage});
}

}  // namespace kdtree_memory

}  // namespace KNN_800
