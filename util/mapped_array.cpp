#include "util/mapped_array.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

namespace util {

std::atomic<bool (*)()> mapping_gate{nullptr};

namespace {

#if defined(__SANITIZE_THREAD__)
constexpr bool under_thread_sanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool under_thread_sanitizer = true;
#else
constexpr bool under_thread_sanitizer = false;
#endif
#else
constexpr bool under_thread_sanitizer = false;
#endif

// From this size on a fixed block is mapped on its own and unmapped when
// freed, so that a build's transient arrays go back to the system at once.
constexpr std::size_t big_threshold = std::size_t{1} << 20;

// Smaller blocks still start on a cache line, as the hierarchy's nodes ask.
constexpr std::align_val_t small_alignment{64};

// Whether a test's gate turns this mapping, or this growth of one, down
// (mapping_gate).
bool refused() {
    bool (*gate)() = mapping_gate.load(std::memory_order_relaxed);
    return gate != nullptr && !gate();
}

// The one way memory is mapped here; null when the system has no more.
void* map_pages(std::size_t bytes) {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

}  // namespace

std::size_t page_round(std::size_t bytes) {
    static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return (std::max<std::size_t>(bytes, 1) + page - 1) / page * page;
}

void unmap_array(void* p, std::size_t bytes) noexcept {
    if (p) munmap(p, page_round(bytes));
}

growing_mapping::~growing_mapping() {
    if (data_) munmap(data_, capacity_);
}

bool growing_mapping::expand(std::size_t bytes) {
    // Half as much again each time, while the system allows it.
    const std::size_t wanted = page_round(std::max({bytes, capacity_ + capacity_ / 2, std::size_t{64} << 10}));
    return grow(wanted) || grow(page_round(bytes));
}

void* growing_mapping::release(std::size_t bytes) {
    if (!data_ && !grow(page_round(bytes))) return nullptr;
    const std::size_t size = page_round(bytes);
    if (size < capacity_) munmap(data_ + size, capacity_ - size);
    void* p = data_;
    data_ = nullptr;
    capacity_ = 0;
    return p;
}

bool growing_mapping::grow(std::size_t size) {
    if (refused()) return false;
    void* p = data_ && !under_thread_sanitizer ? mremap(data_, capacity_, size, MREMAP_MAYMOVE) : map_pages(size);
    if (p == MAP_FAILED || p == nullptr) return false;
    if (data_ && under_thread_sanitizer) {
        // ThreadSanitizer does not see mremap: it would remember the
        // accesses to a moved range at its old address, and take later
        // mappings there for memory still shared. Copying and unmapping
        // tells it.
        std::memcpy(p, data_, capacity_);
        munmap(data_, capacity_);
    }
    data_ = static_cast<char*>(p);
    capacity_ = size;
    return true;
}

void* allocate_big(std::size_t bytes) {
    if (bytes < big_threshold) return ::operator new(bytes, small_alignment);
    void* p = refused() ? nullptr : map_pages(bytes);
    if (!p) throw std::bad_alloc();
    return p;
}

void release_big(void* p, std::size_t bytes) noexcept {
    if (p == nullptr) return;
    if (bytes < big_threshold) {
        ::operator delete(p, small_alignment);
        return;
    }
    munmap(p, bytes);
}

}  // namespace util
