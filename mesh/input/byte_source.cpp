#include "mesh/input/byte_source.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

std::size_t fd_source::read(char* to, std::size_t n) {
    if (error_ != 0) return 0;
    for (;;) {
        const ssize_t got = ::read(fd_, to, n);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) {
            error_ = errno;
            return 0;
        }
    }
}

std::size_t memory_source::read(char* to, std::size_t n) {
    n = std::min({n, left_, piece_});
    if (n > 0) std::memcpy(to, data_, n);
    data_ += n;
    left_ -= n;
    return n;
}
