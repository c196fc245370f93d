#pragma once

#include <cstddef>
#include <new>
#include <utility>

#include "bvh/build/box.h"
#include "util/mapped_array.h"

namespace bvh_build {

// The triangles' boxes, one array. It is allocated without being written:
// the threads that fill it are the first to touch its pages, in parallel,
// which on a fresh machine is most of what filling it costs. Elements are
// placed with put() before anything reads them.
class box_list {
public:
    box_list() = default;
    explicit box_list(std::size_t n)
        : size_(n), capacity_(n), data_(n == 0 ? nullptr : static_cast<vbox*>(util::allocate_big(n * sizeof(vbox)))) {}
    ~box_list() { util::release_big(data_, capacity_ * sizeof(vbox)); }
    box_list(box_list&& other) noexcept { swap(other); }
    box_list& operator=(box_list&& other) noexcept {
        swap(other);
        return *this;
    }

    void put(std::size_t k, const vbox& b) { ::new (static_cast<void*>(data_ + k)) vbox(b); }
    vbox& operator[](std::size_t k) { return data_[k]; }
    const vbox& operator[](std::size_t k) const { return data_[k]; }
    vbox* data() { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    void shrink(std::size_t n) { size_ = n; }  // keeps the memory
    void swap(box_list& other) {
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
        std::swap(data_, other.data_);
    }
    void release() {
        box_list none;
        swap(none);
    }

private:
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    vbox* data_ = nullptr;
};

}  // namespace bvh_build
