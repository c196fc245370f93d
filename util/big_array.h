#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

#include "util/mapped_array.h"

namespace util {

// A fixed number of plain values from allocate_big, left unwritten: the
// threads that fill it are the first to touch its pages, in parallel,
// which on a fresh machine is most of what filling a big array costs.
// Freed when it goes (or on release()).
template <typename T>
class big_array {
    static_assert(std::is_trivially_copyable<T>::value && std::is_trivially_destructible<T>::value,
                  "plain values only: nothing is constructed or destroyed");

public:
    big_array() = default;
    explicit big_array(std::size_t n) : size_(n), data_(n == 0 ? nullptr : static_cast<T*>(allocate_big(n * sizeof(T)))) {}
    ~big_array() { release(); }
    big_array(const big_array&) = delete;
    big_array& operator=(const big_array&) = delete;
    big_array(big_array&& other) noexcept { swap(other); }
    big_array& operator=(big_array&& other) noexcept {
        swap(other);
        return *this;
    }

    T& operator[](std::size_t k) { return data_[k]; }
    const T& operator[](std::size_t k) const { return data_[k]; }
    T* data() { return data_; }
    const T* data() const { return data_; }
    std::size_t size() const { return size_; }

    void swap(big_array& other) noexcept {
        std::swap(size_, other.size_);
        std::swap(data_, other.data_);
    }
    void release() noexcept {
        release_big(data_, size_ * sizeof(T));
        data_ = nullptr;
        size_ = 0;
    }

private:
    std::size_t size_ = 0;
    T* data_ = nullptr;
};

}  // namespace util
