#include "scene/large_allocator.h"

#include <sys/mman.h>

#include <new>

namespace {

// From this size on a block is mapped on its own and unmapped when freed,
// so that a build's transient arrays go back to the system at once.
constexpr std::size_t large_threshold = std::size_t{1} << 20;

// Small blocks still start on a cache line, as the hierarchy's nodes ask.
constexpr std::align_val_t small_alignment{64};

}  // namespace

void* allocate_large(std::size_t bytes) {
    if (bytes < large_threshold) return ::operator new(bytes, small_alignment);
    void* mapped = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    return mapped;
}

void release_large(void* p, std::size_t bytes) noexcept {
    if (p == nullptr) return;
    if (bytes < large_threshold) {
        ::operator delete(p, small_alignment);
        return;
    }
    munmap(p, bytes);
}
