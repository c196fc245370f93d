#pragma once

// Running out of memory on purpose. Including this header replaces every
// global operator new and delete of the test binary (include it from one
// file of a binary only): each allocation is counted, and so is every
// mapping util makes (util::mapping_gate), and while armed the one
// numbered k fails as if memory had run out. Heap blocks still live are
// counted too, so a test can tell what an attempt left behind.

#include <atomic>
#include <cstdlib>
#include <new>

#include "util/mapped_array.h"

namespace failing_allocations {

inline std::atomic<long> made{0};      // since the count was armed
inline std::atomic<long> fail_at{-1};  // the one to fail; -1: none
inline std::atomic<long> live{0};      // heap blocks not yet freed

// Counts one allocation; false for the one that is to fail.
inline bool may_allocate() {
    if (fail_at.load() < 0) return true;
    return made.fetch_add(1) != fail_at.load();
}

inline void* allocate(std::size_t size, std::size_t alignment) {
    if (!may_allocate()) return nullptr;
    void* p = nullptr;
    if (alignment <= alignof(std::max_align_t)) {
        p = std::malloc(size ? size : 1);
    } else if (posix_memalign(&p, alignment, size ? size : 1) != 0) {
        p = nullptr;
    }
    if (p) live.fetch_add(1);
    return p;
}

inline void* allocate_or_throw(std::size_t size, std::size_t alignment) {
    if (void* p = allocate(size, alignment)) return p;
    throw std::bad_alloc();
}

// Out of line, so that the compiler does not pair a free() it can see with
// the operator new it came from.
[[gnu::noinline]] inline void release(void* p) noexcept {
    if (!p) return;
    live.fetch_sub(1);
    std::free(p);
}

inline bool gate() { return may_allocate(); }

// While it lives, allocation number k from now on fails (k < 0: none),
// mappings included; made() says how many were made.
class armed {
public:
    explicit armed(long k) {
        made = 0;
        fail_at = k;
        util::mapping_gate = gate;
    }
    ~armed() {
        util::mapping_gate = nullptr;
        fail_at = -1;
    }
    armed(const armed&) = delete;
    armed& operator=(const armed&) = delete;

    // Whether allocation k was reached, so failed.
    bool reached(long k) const { return k >= 0 && made.load() > k; }
};

constexpr std::size_t plain = alignof(std::max_align_t);

}  // namespace failing_allocations

void* operator new(std::size_t n) { return failing_allocations::allocate_or_throw(n, failing_allocations::plain); }
void* operator new[](std::size_t n) { return failing_allocations::allocate_or_throw(n, failing_allocations::plain); }
void* operator new(std::size_t n, std::align_val_t a) {
    return failing_allocations::allocate_or_throw(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a) {
    return failing_allocations::allocate_or_throw(n, static_cast<std::size_t>(a));
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return failing_allocations::allocate(n, failing_allocations::plain);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return failing_allocations::allocate(n, failing_allocations::plain);
}
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return failing_allocations::allocate(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return failing_allocations::allocate(n, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept { failing_allocations::release(p); }
void operator delete[](void* p) noexcept { failing_allocations::release(p); }
void operator delete(void* p, std::size_t) noexcept { failing_allocations::release(p); }
void operator delete[](void* p, std::size_t) noexcept { failing_allocations::release(p); }
void operator delete(void* p, std::align_val_t) noexcept { failing_allocations::release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { failing_allocations::release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { failing_allocations::release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { failing_allocations::release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { failing_allocations::release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { failing_allocations::release(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { failing_allocations::release(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { failing_allocations::release(p); }
