#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

// Memory for the few big arrays built once per run (the hierarchy's boxes,
// nodes and leaves): mapped on their own, so that a transient array goes
// back to the system as soon as it is freed, and in ordinary pages. On the
// virtual machines this runs on, huge pages were measured to cost more than
// they save: a 2 MiB page's first touch makes the host back all of it at
// once (about 0.45 GB/s, against 1 to 2 GB/s for 4 KiB pages), while the
// render runs as fast either way.

// Allocates `bytes`, on a cache-line boundary. Fails like operator new.
void* allocate_large(std::size_t bytes);

// Frees what allocate_large returned for the same `bytes`.
void release_large(void* p, std::size_t bytes) noexcept;

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
