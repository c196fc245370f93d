#pragma once

// Big arrays in anonymous mappings of their own: the mesh's vertices and
// faces, the loader's scratch, the hierarchy's boxes, nodes and leaves.
//
// - A mapping goes back to the system as soon as it is freed, so a build's
//   transient arrays do not linger in the heap.
// - A growing mapping is grown in place or moved by the kernel (mremap): a
//   growing array is never copied and never needs twice its size.
// - Helper threads that fill such arrays never call malloc, which would give
//   each of them an arena of 64 MiB of address space.
// - Ordinary 4 KiB pages: on the virtual machines this runs on, a huge
//   page's first touch makes the host back all 2 MiB at once (about
//   0.45 GB/s, against 1 to 2 GB/s for 4 KiB pages), while the render runs
//   as fast either way.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace util {

// `bytes` rounded up to whole pages, at least one.
std::size_t page_round(std::size_t bytes);

// Frees an array that growing_mapping::release handed over for `bytes`.
void unmap_array(void* p, std::size_t bytes) noexcept;

// One mapping that grows on demand and can be handed over, trimmed.
class growing_mapping {
public:
    growing_mapping() = default;
    growing_mapping(const growing_mapping&) = delete;
    growing_mapping& operator=(const growing_mapping&) = delete;
    ~growing_mapping();

    char* data() const { return data_; }

    // Room for `bytes` in all; false when no more memory is to be had.
    bool reserve(std::size_t bytes) { return bytes <= capacity_ || expand(bytes); }

    // Trims the mapping to `bytes` and hands it over (free it with
    // unmap_array); null when not even that much could be mapped.
    void* release(std::size_t bytes);

private:
    bool expand(std::size_t bytes);
    bool grow(std::size_t size);

    char* data_ = nullptr;
    std::size_t capacity_ = 0;
};

// A growing array of plain values in a growing_mapping. Pushing reports
// running out of memory instead of throwing.
template <typename T>
class mapped_array {
public:
    std::int64_t size() const { return size_; }
    void clear() { size_ = 0; }
    T* data() const { return reinterpret_cast<T*>(map_.data()); }
    bool reserve(std::int64_t count) { return map_.reserve(static_cast<std::size_t>(count) * sizeof(T)); }
    bool push(const T& value) {
        if (!reserve(size_ + 1)) return false;
        data()[size_++] = value;
        return true;
    }
    bool append(const T* values, std::size_t count) {
        if (!reserve(size_ + static_cast<std::int64_t>(count))) return false;
        if (count > 0) std::memcpy(data() + size_, values, count * sizeof(T));
        size_ += static_cast<std::int64_t>(count);
        return true;
    }
    // Hands the elements over, trimmed (free with unmap_array for
    // size() * sizeof(T) bytes); the array is left empty.
    T* release() {
        T* p = static_cast<T*>(map_.release(static_cast<std::size_t>(size_) * sizeof(T)));
        size_ = 0;
        return p;
    }

private:
    growing_mapping map_;
    std::int64_t size_ = 0;
};

// Fixed-size blocks for big arrays, on a cache-line boundary: from 1 MiB on
// a mapping of their own, smaller ones from the heap. Fails like operator new.
void* allocate_big(std::size_t bytes);

// Frees what allocate_big returned for the same `bytes`.
void release_big(void* p, std::size_t bytes) noexcept;

// For tests that run out of memory on purpose: while set, every mapping
// made here asks it first, and fails as if the system had no more memory
// when it answers false. Null (the default) asks nothing.
extern std::atomic<bool (*)()> mapping_gate;

// A standard allocator over allocate_big, for std::vector.
template <typename T>
struct big_allocator {
    using value_type = T;

    big_allocator() = default;
    template <typename U>
    big_allocator(const big_allocator<U>&) noexcept {}

    T* allocate(std::size_t n) { return static_cast<T*>(allocate_big(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) noexcept { release_big(p, n * sizeof(T)); }

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
    bool operator==(const big_allocator<U>&) const noexcept { return true; }
    template <typename U>
    bool operator!=(const big_allocator<U>&) const noexcept { return false; }
};

}  // namespace util
