#pragma once

// The bytes that shape OBJ text: blanks separate words; CR and LF end lines
// (CR LF is one line end). The classes come from one table, so that telling
// where a word ends is one look-up rather than six comparisons.

#include <array>

namespace obj {

enum byte_class : unsigned char { blank_byte = 1, line_end_byte = 2 };

inline constexpr std::array<unsigned char, 256> byte_classes = [] {
    std::array<unsigned char, 256> classes{};
    for (const char c : {' ', '\t', '\v', '\f'}) classes[static_cast<unsigned char>(c)] = blank_byte;
    for (const char c : {'\n', '\r'}) classes[static_cast<unsigned char>(c)] = line_end_byte;
    return classes;
}();

inline unsigned char class_of(char c) { return byte_classes[static_cast<unsigned char>(c)]; }
inline bool is_blank(char c) { return class_of(c) == blank_byte; }
inline bool is_line_end(char c) { return class_of(c) == line_end_byte; }
inline bool ends_word(char c) { return class_of(c) != 0; }
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

inline const char* skip_blanks(const char* p, const char* end) {
    while (p < end && is_blank(*p)) ++p;
    return p;
}

inline const char* word_end(const char* p, const char* end) {
    while (p < end && !ends_word(*p)) ++p;
    return p;
}

}  // namespace obj
