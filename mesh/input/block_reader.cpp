#include "mesh/input/block_reader.h"

#include <algorithm>
#include <cstring>

block_reader::block_reader(byte_source& source, std::size_t block) : source_(&source), block_(std::max<std::size_t>(block, 1)) {}

block_reader::block_reader(const char* data, std::size_t size) : data_(data), end_(size), ended_(true) {}

std::size_t block_reader::refill(std::size_t n) {
    if (ended_ || out_of_memory_) return available();
    // What is left moves to the front: it is never more than one request.
    char* buffer = buffer_.data();
    if (start_ > 0) {
        std::memmove(buffer, buffer + start_, end_ - start_);
        base_ += static_cast<long long>(start_);
        end_ -= start_;
        start_ = 0;
    }
    const std::size_t wanted = std::max(n, block_);
    if (wanted > capacity_) {
        if (!buffer_.reserve(wanted)) {
            out_of_memory_ = true;
            return available();
        }
        capacity_ = wanted;
        buffer = buffer_.data();
    }
    data_ = buffer;
    while (end_ < n) {
        const std::size_t got = source_->read(buffer + end_, capacity_ - end_);
        if (got == 0) {
            ended_ = true;
            break;
        }
        end_ += got;
    }
    return available();
}

bool block_reader::skip(long long n) {
    while (n > 0) {
        if (available() == 0 && want(static_cast<std::size_t>(std::min<long long>(n, static_cast<long long>(block_)))) == 0)
            return false;
        const std::size_t take = static_cast<std::size_t>(std::min<long long>(n, static_cast<long long>(available())));
        consume(take);
        n -= static_cast<long long>(take);
    }
    return true;
}

std::size_t block_reader::read_out(char* to, std::size_t n) {
    if (available() > 0) {
        n = std::min(n, available());
        std::memcpy(to, data(), n);
        consume(n);
        return n;
    }
    if (!source_ || ended_) return 0;
    const std::size_t got = source_->read(to, n);
    base_ += static_cast<long long>(got);
    return got;
}
