#include "app/output.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <stdio_ext.h>
#include <unistd.h>

namespace {

int output_errno = 0;  // why standard output first failed, if known

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

void do_nothing(int) {}

// Standard output's writes: all of `size`, or the reason they stopped kept.
// The stream counts a short count as an error.
ssize_t write_standard_output(void*, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(STDOUT_FILENO, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (output_errno == 0) output_errno = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// stdout replaced by a stream that writes through write_standard_output,
// buffered as stdout was meant to be: by line on a terminal or when asked
// for (stdbuf -oL), unbuffered when asked for, else in blocks.
void record_output_failures() {
    const int mode = __flbf(stdout) || isatty(STDOUT_FILENO) ? _IOLBF : __fbufsize(stdout) == 1 ? _IONBF : _IOFBF;
    std::FILE* recording = fopencookie(nullptr, "w", {nullptr, write_standard_output, nullptr, nullptr});
    if (recording == nullptr) return;
    std::setvbuf(recording, nullptr, mode, BUFSIZ);
    stdout = recording;
}

}  // namespace

void start_output() {
    hold_closed_standard_streams();
    for (int s : {SIGPIPE, SIGXFSZ}) {
        struct sigaction current;
        if (sigaction(s, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
        struct sigaction caught {};
        caught.sa_handler = do_nothing;
        caught.sa_flags = SA_RESTART;
        sigemptyset(&caught.sa_mask);
        sigaction(s, &caught, nullptr);
    }
    record_output_failures();
}

bool flush_output() {
    std::fflush(stdout);
    return !std::ferror(stdout);
}

std::string printable(const std::string& text) {
    std::string shown;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        const int width = c < 0x20 || c == 0x7f ? 1 : c == 0xc2 && next >= 0x80 && next <= 0x9f ? 2 : 0;
        if (width == 0) {
            shown += text[i];
            continue;
        }
        for (int k = 0; k < width; ++k) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(text[i + k]));
            shown += hex;
        }
        i += static_cast<std::size_t>(width - 1);
    }
    return shown;
}

void report_failure(const std::string& message) {
    flush_output();
    std::fprintf(stderr, "%s\n", printable(message).c_str());
}

int finish_output(const char* program, int status) {
    if (flush_output()) return status;
    std::fprintf(stderr, "%s: cannot write standard output%s%s\n", program, output_errno ? ": " : "",
                 output_errno ? std::strerror(output_errno) : "");
    return status != 0 ? status : 1;
}
