// The memory of the kd-tree's large per-case arrays: blocks backed by huge pages, and the
// process-wide cache that keeps blocks given back for the next tree of the same size.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace KNN_800 {

namespace kdtree {

// Storage for the tree's large per-case buffers. A request of at least kLargeBytes is rounded up
// to whole 2 MB pages and the kernel is asked to back it with huge pages, so that the first build
// on fresh memory takes one page fault per 2 MB instead of one per 4 KB (on a virtual machine a
// small-page fault can cost as much as 10 microseconds, or 2.5 ms per MB, against well under a
// millisecond for a huge page). A block given back is kept, up to kKeptBytes in all and until
// the library is unloaded, for the next request of the same rounded size: a new tree over data
// of the same shape (another model) then reuses memory that is already backed instead of
// faulting in fresh pages, as the ordinary heap does for small blocks. Elements are
// default-initialised: a buffer that is resized and then fully overwritten is not cleared first.
constexpr size_t kLargeBytes = size_t{1} << 20;
constexpr size_t kKeptBytes = size_t{64} << 20;
void* AllocateLarge(size_t bytes);
void FreeLarge(void* block, size_t bytes);
// What the kept blocks hold in all, and giving them all back to the system.
size_t KeptBytes();
void ReleaseKept();

template <class T>
struct LargeBufferAllocator {
    using value_type = T;
    LargeBufferAllocator() = default;
    template <class U>
    LargeBufferAllocator(const LargeBufferAllocator<U>&) noexcept {}
    T* allocate(size_t n) {
        const size_t bytes = n * sizeof(T);
        if (bytes >= kLargeBytes) {
            return static_cast<T*>(AllocateLarge(bytes));
        }
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, size_t n) noexcept {
        if (n * sizeof(T) >= kLargeBytes) {
            FreeLarge(p, n * sizeof(T));
        } else {
            std::allocator<T>().deallocate(p, n);
        }
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        if constexpr (sizeof...(Args) == 0) {
            ::new (static_cast<void*>(p)) U;
        } else {
            ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
        }
    }
    template <class U>
    bool operator==(const LargeBufferAllocator<U>&) const noexcept {
        return true;
    }
};

template <class T>
using LargeBuffer = std::vector<T, LargeBufferAllocator<T>>;

}  // namespace kdtree

}  // namespace KNN_800
