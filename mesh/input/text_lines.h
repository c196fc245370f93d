#pragma once

// The lines of a text file read through a block_reader, for the PLY header
// and the ASCII formats. Lines end with LF, CR LF or CR; a line's end is
// consumed only when the next line is asked for, so a binary part can start
// right after it. A NUL byte or a line longer than max_line stops the text.

#include <cstddef>
#include <string>

#include "mesh/input/block_reader.h"

enum class line_end { none, lf, cr, crlf };

class text_lines {
public:
    // Longer lines are refused: a line is held whole in the buffer.
    static constexpr std::size_t max_line = std::size_t{1} << 20;

    text_lines(block_reader& in, const char* name) : in_(in), name_(name) {}

    // The next line, without its line end, in [*begin, *end): valid until
    // the next call. False at the end of the text, or when the text cannot
    // be read on (then failed() and error() say why).
    bool next(const char** begin, const char** end);

    // The number of the line last returned, counted from 1.
    long long line() const { return line_; }
    // How the line last returned ends (none: the text ends there).
    line_end ending() const { return ending_; }
    // Consumes the line end of the line last returned: the reader then
    // stands on the byte after it.
    void finish_line();

    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }

private:
    block_reader& in_;
    const char* name_;
    long long line_ = 0;
    std::size_t length_ = 0;  // of the line last returned, still held
    line_end ending_ = line_end::none;
    bool pending_ = false;    // a line was returned and is not consumed yet
    std::string error_;
};

// "NAME:LINE: what", the message of a bad line of text.
std::string line_message(const char* name, long long line, const std::string& what);

// The message of an input that stopped early for a reason of its own (a
// failed read, no memory for its buffer), or "" when it simply ended.
std::string stop_message(const block_reader& in, const char* name);
