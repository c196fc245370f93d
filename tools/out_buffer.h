#pragma once

// Mesh files go out through one large buffer, numbers formatted by hand:
// printf would take minutes over the hundreds of megabytes of a fine mesh.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

class out_buffer {
public:
    explicit out_buffer(std::FILE* out) : out_(out), buffer_(1 << 20) {}

    void text(const char* s) { bytes(s, std::strlen(s)); }
    void ch(char c) { bytes(&c, 1); }
    void bytes(const void* p, std::size_t n) {
        reserve(n);
        std::memcpy(&buffer_[used_], p, n);
        used_ += n;
    }
    // The shortest text that reads back as the same float.
    void number(float f) {
        reserve(32);
        used_ = static_cast<std::size_t>(std::to_chars(&buffer_[used_], &buffer_[used_] + 32, f).ptr - buffer_.data());
    }
    void integer(long long n) {
        reserve(24);
        used_ = static_cast<std::size_t>(std::to_chars(&buffer_[used_], &buffer_[used_] + 24, n).ptr - buffer_.data());
    }
    // A binary value in either byte order.
    template <typename T>
    void value(T v, bool big_endian) {
        unsigned char b[sizeof(T)];
        std::memcpy(b, &v, sizeof b);
        if (big_endian != (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__))
            for (std::size_t i = 0; i < sizeof b / 2; ++i) std::swap(b[i], b[sizeof b - 1 - i]);
        bytes(b, sizeof b);
    }
    bool finish() {
        flush();
        return ok_ && std::fflush(out_) == 0;
    }

private:
    void reserve(std::size_t n) {
        if (used_ + n > buffer_.size()) flush();
        if (n > buffer_.size()) buffer_.resize(n);
    }
    void flush() {
        if (used_ && std::fwrite(buffer_.data(), 1, used_, out_) != used_) ok_ = false;
        used_ = 0;
    }

    std::FILE* out_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
    bool ok_ = true;
};
