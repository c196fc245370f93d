#include "app/output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

int output_errno = 0;  // why standard output failed, if known

}  // namespace

void hold_closed_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int held = open("/dev/null", O_RDONLY);
        if (held >= 0 && held != fd) {
            dup2(held, fd);
            close(held);
        }
    }
}

bool flush_output() {
    if (std::fflush(stdout) != 0 && output_errno == 0) output_errno = errno;
    return !std::ferror(stdout);
}

void report_failure(const std::string& message) {
    flush_output();
    std::fprintf(stderr, "%s\n", message.c_str());
}

int finish_output(const char* program, int status) {
    if (flush_output()) return status;
    std::fprintf(stderr, "%s: cannot write standard output%s%s\n", program, output_errno ? ": " : "",
                 output_errno ? std::strerror(output_errno) : "");
    return status != 0 ? status : 1;
}
