#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

// Memory for the few big arrays built once per run (the BVH, the model's
// triangles). On the virtual machines this runs on, every first touch of a
// 4 KiB page costs several microseconds, which adds up to tens of
// milliseconds for a mesh of this size; transparent huge pages, where the
// system offers them, make that one fault per 2 MiB. Small requests and
// systems without huge pages get ordinary memory.

// Allocates `bytes` (large ones on 2 MiB boundaries, advised for huge
// pages). Fails like operator new.
void* allocate_large(std::size_t bytes);

// Frees what allocate_large returned for the same `bytes`.
void release_large(void* p, std::size_t bytes) noexcept;

// Asks for huge pages under the 2 MiB-aligned part of an existing range,
// such as a big static array, before it is first written.
void advise_huge_pages(void* begin, std::size_t bytes) noexcept;

// A standard allocator over allocate_large, for std::vector.
template <typename T>
struct large_allocator {
    using value_type = T;

    large_allocator() = default;
    template <typename U>
    large_allocator(const large_allocator<U>&) noexcept {}

    T* allocate(std::size_t n) { return static_cast<T*>(allocate_large(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) noexcept { release_large(p, n * sizeof(T)); }

    // Growing a vector default-initialises its new elements rather than
    // zeroing them: the big arrays are written in full right after, and a
    // first pass of zeros over gigabytes would only cost time.
    template <typename U>
    void construct(U* p) noexcept(noexcept(U())) {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    template <typename U>
    bool operator==(const large_allocator<U>&) const noexcept { return true; }
    template <typename U>
    bool operator!=(const large_allocator<U>&) const noexcept { return false; }
};
