#include "mesh/input/text_lines.h"

#include <cstring>

std::string line_message(const char* name, long long line, const std::string& what) {
    return std::string(name) + ":" + std::to_string(line) + ": " + what;
}

std::string stop_message(const block_reader& in, const char* name) {
    if (in.out_of_memory()) return std::string(name) + ": out of memory";
    if (in.read_error() != 0) return std::string("cannot read ") + name + ": " + std::strerror(in.read_error());
    return "";
}

void text_lines::finish_line() {
    if (!pending_) return;
    pending_ = false;
    in_.consume(length_);
    if (ending_ == line_end::none) return;
    in_.consume(ending_ == line_end::crlf ? 2 : 1);
}

bool text_lines::next(const char** begin, const char** end) {
    if (failed()) return false;
    finish_line();
    // The line end is looked for in what is held, reading on as needed
    // (which may move what is held); what was looked through already is
    // not looked through again.
    std::size_t scanned = 0;
    for (;;) {
        const std::size_t held = in_.available();
        std::size_t i = scanned;
        {
            const char* p = in_.data();
            while (i < held && p[i] != '\n' && p[i] != '\r' && p[i] != '\0') ++i;
        }
        if (i > max_line || (i == held && held > max_line)) {
            error_ = line_message(name_, line_ + 1, "line longer than " + std::to_string(max_line) + " bytes");
            return false;
        }
        // At the end of what is held, or on a CR that may be followed by
        // an LF not read yet: read on.
        const bool open_end = i == held || (in_.data()[i] == '\r' && i + 1 == held);
        if (open_end && in_.want(held + 1) > held) {
            scanned = i;
            continue;
        }
        const char* const p = in_.data();
        if (i == held) {
            error_ = stop_message(in_, name_);
            if (failed() || held == 0) return false;  // held == 0: the end of the text
            ending_ = line_end::none;
        } else if (p[i] == '\0') {
            error_ = line_message(name_, line_ + 1, "NUL byte; this is not a text file");
            return false;
        } else if (p[i] == '\n') {
            ending_ = line_end::lf;
        } else {
            ending_ = i + 1 < in_.available() && p[i + 1] == '\n' ? line_end::crlf : line_end::cr;
        }
        ++line_;
        length_ = i;
        pending_ = true;
        *begin = p;
        *end = p + i;
        return true;
    }
}
