#pragma once

// The words of an OBJ line: which bytes separate them, how to step over
// them, and how a word is shown in a message. Numbers and face corners are
// read in obj_number.h and obj_corner.h.

#include <cstddef>
#include <string>

namespace obj {

// Space, tab, vertical tab and form feed separate words; CR and LF end lines.
inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }
inline bool is_line_end(char c) { return c == '\n' || c == '\r'; }
inline bool ends_word(char c) { return is_blank(c) || is_line_end(c); }
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

inline const char* skip_blanks(const char* p, const char* end) {
    while (p < end && is_blank(*p)) ++p;
    return p;
}

inline const char* word_end(const char* p, const char* end) {
    while (p < end && !ends_word(*p)) ++p;
    return p;
}

inline const char* line_end(const char* p, const char* end) {
    while (p < end && !is_line_end(*p)) ++p;
    return p;
}

// Past the line end at p: LF, CR or CR LF.
inline const char* next_line(const char* p, const char* end) {
    if (p < end && *p++ == '\r' && p < end && *p == '\n') ++p;
    return p;
}

// A word as a message shows it: its first 32 characters, anything outside
// printable ASCII as '?', then "..." if it is longer. `known` bytes of it
// are at `begin` (at least 32 of them when the word is longer).
struct word_text {
    const char* begin;
    std::size_t known;
    std::size_t length;

    std::string shown() const;
    std::string quoted() const { return "'" + shown() + "'"; }
};

inline word_text whole_word(const char* begin, const char* end) {
    return {begin, static_cast<std::size_t>(end - begin), static_cast<std::size_t>(end - begin)};
}

// The first bytes of a word fed in pieces, for its message.
class word_start {
public:
    void add(char c) {
        if (length_ < sizeof bytes_) bytes_[length_] = c;
        ++length_;
    }
    std::size_t length() const { return length_; }
    word_text text() const { return {bytes_, length_ < sizeof bytes_ ? length_ : sizeof bytes_, length_}; }

private:
    char bytes_[32];
    std::size_t length_ = 0;
};

}  // namespace obj
