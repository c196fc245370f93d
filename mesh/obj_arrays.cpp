// Growing and trimming the loader's mappings (obj_arrays.h).

#include "mesh/obj_arrays.h"

#include <algorithm>

#include <sys/mman.h>
#include <unistd.h>

namespace obj {

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

}  // namespace

std::size_t page_round(std::size_t bytes) {
    static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return (std::max<std::size_t>(bytes, 1) + page - 1) / page * page;
}

void unmap_array(void* p, std::size_t bytes) {
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
    void* p = data_ && !under_thread_sanitizer
                  ? mremap(data_, capacity_, size, MREMAP_MAYMOVE)
                  : mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
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

}  // namespace obj
