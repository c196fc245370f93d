#pragma once

// The loader's growable arrays: anonymous mappings that the kernel grows in
// place or moves (mremap), so a growing array is never copied and never
// needs twice its size; at the end they are trimmed to the page and handed
// over as the mesh's own arrays. The loader's scratch lives in them too:
// helper threads then never call malloc, which would give each one an arena
// of 64 MiB of address space.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace obj {

// `bytes` rounded up to whole pages, at least one.
std::size_t page_round(std::size_t bytes);

// Frees an array handed over by growing_mapping::release that held `bytes`.
void unmap_array(void* p, std::size_t bytes);

class growing_mapping {
public:
    growing_mapping() = default;
    growing_mapping(const growing_mapping&) = delete;
    growing_mapping& operator=(const growing_mapping&) = delete;
    ~growing_mapping();

    char* data() const { return data_; }

    // Room for `bytes` in all; false when no more memory is to be had.
    bool reserve(std::size_t bytes) { return bytes <= capacity_ || expand(bytes); }

    // Trims the mapping to `bytes` and hands it over.
    void* release(std::size_t bytes);

private:
    bool expand(std::size_t bytes);
    bool grow(std::size_t size);

    char* data_ = nullptr;
    std::size_t capacity_ = 0;
};

template <typename T>
class mesh_array {
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
    T* release() { return static_cast<T*>(map_.release(static_cast<std::size_t>(size_) * sizeof(T))); }

private:
    growing_mapping map_;
    std::int64_t size_ = 0;
};

}  // namespace obj
