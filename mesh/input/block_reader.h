#pragma once

// A mesh file read front to back through one buffer: the readers ask for
// the next n bytes in one piece, look at them, and consume what they used.
// A file already in memory (mapped, or a test's text) is viewed in place:
// all of it is there at once and nothing is copied.

#include <cstddef>

#include "mesh/input/byte_source.h"
#include "util/mapped_array.h"

class block_reader {
public:
    // Stream reads go into a buffer of this many bytes, or of the largest
    // single request if that is more.
    static constexpr std::size_t default_block = std::size_t{4} << 20;

    explicit block_reader(byte_source& source, std::size_t block = default_block);
    block_reader(const char* data, std::size_t size);
    block_reader(const block_reader&) = delete;
    block_reader& operator=(const block_reader&) = delete;

    // Makes at least `n` bytes available at data() unless the input ends,
    // fails or memory runs out first; returns how many are available. The
    // bytes may move: data() is to be asked again afterwards.
    std::size_t want(std::size_t n) {
        return end_ - start_ >= n ? end_ - start_ : refill(n);
    }
    const char* data() const { return data_ + start_; }
    std::size_t available() const { return end_ - start_; }
    void consume(std::size_t n) { start_ += n; }
    // Steps over `n` bytes, reading through those not read yet; false if
    // the input stops first.
    bool skip(long long n);

    // Where data() is, counted from the start of the input.
    long long offset() const { return base_ + static_cast<long long>(start_); }
    // The size of the whole input when known in advance, else -1.
    long long size() const { return source_ ? source_->size : static_cast<long long>(end_); }
    // Everything the input holds is available already.
    bool viewing() const { return source_ == nullptr; }
    // How much a stream read brings in at once.
    std::size_t block() const { return block_; }

    // Why want() came back short.
    bool out_of_memory() const { return out_of_memory_; }
    int read_error() const { return source_ ? source_->error() : 0; }

    // Hands out what is held and then what the source gives, straight into
    // `to` (for a reader that wants a stream of its own).
    std::size_t read_out(char* to, std::size_t n);

private:
    std::size_t refill(std::size_t n);

    byte_source* source_ = nullptr;
    std::size_t block_ = default_block;
    util::growing_mapping buffer_;
    std::size_t capacity_ = 0;
    const char* data_ = nullptr;
    std::size_t start_ = 0, end_ = 0;
    long long base_ = 0;  // the input offset of data_[0]
    bool ended_ = false;
    bool out_of_memory_ = false;
};
