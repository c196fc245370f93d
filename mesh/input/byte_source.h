#pragma once

// Where the bytes of a mesh file come from: a file descriptor (a file, a
// pipe, a device) or memory. The readers above never ask which.

#include <cstddef>

struct byte_source {
    // Every byte the input holds, when that is known before reading (a
    // regular file); -1 otherwise.
    long long size = -1;

    virtual ~byte_source() = default;
    // Some bytes, at most `n`, at `to`; 0 only at the end of the input or
    // on a failed read.
    virtual std::size_t read(char* to, std::size_t n) = 0;
    // The errno of a failed read, 0 if none failed.
    virtual int error() const { return 0; }
};

// read(2) on a descriptor it does not own.
class fd_source : public byte_source {
public:
    fd_source(int fd, long long known_size) : fd_(fd) { size = known_size; }
    std::size_t read(char* to, std::size_t n) override;
    int error() const override { return error_; }

private:
    int fd_;
    int error_ = 0;
};

// Bytes in memory, handed out `piece` bytes at a time at most (the tests
// cut a text as a pipe would), with their size known or not.
class memory_source : public byte_source {
public:
    memory_source(const char* data, std::size_t n, std::size_t piece, bool size_known)
        : data_(data), left_(n), piece_(piece > 0 ? piece : n) {
        size = size_known ? static_cast<long long>(n) : -1;
    }
    std::size_t read(char* to, std::size_t n) override;

private:
    const char* data_;
    std::size_t left_;
    std::size_t piece_;
};
