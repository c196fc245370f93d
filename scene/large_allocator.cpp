#include "scene/large_allocator.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace {

constexpr std::size_t huge_page = std::size_t{2} << 20;
// Below this a huge page would mostly hold nothing.
constexpr std::size_t large_threshold = std::size_t{1} << 20;

std::size_t round_up(std::size_t bytes) { return (bytes + huge_page - 1) & ~(huge_page - 1); }

// Small blocks still start on a cache line, as the BVH nodes ask.
constexpr std::align_val_t small_alignment{64};

}  // namespace

void* allocate_large(std::size_t bytes) {
    if (bytes < large_threshold) return ::operator new(bytes, small_alignment);
    const std::size_t size = round_up(bytes);
    // Map one huge page more than needed and trim it to a 2 MiB boundary.
    void* mapped = mmap(nullptr, size + huge_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + huge_page - 1) & ~(huge_page - 1);
    if (aligned > start) munmap(mapped, aligned - start);
    const std::uintptr_t tail = start + size + huge_page - (aligned + size);
    if (tail > 0) munmap(reinterpret_cast<void*>(aligned + size), tail);
    madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

void release_large(void* p, std::size_t bytes) noexcept {
    if (p == nullptr) return;
    if (bytes < large_threshold) {
        ::operator delete(p, small_alignment);
        return;
    }
    munmap(p, round_up(bytes));
}

void advise_huge_pages(void* begin, std::size_t bytes) noexcept {
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(begin);
    const std::uintptr_t first = (start + huge_page - 1) & ~(huge_page - 1);
    const std::uintptr_t last = (start + bytes) & ~(huge_page - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}
