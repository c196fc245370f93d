#pragma once

// The bytes that shape OBJ text: blanks separate words; CR and LF end lines
// (CR LF is one line end).

namespace obj {

inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }
inline bool is_line_end(char c) { return c == '\n' || c == '\r'; }
inline bool ends_word(char c) { return is_blank(c) || is_line_end(c); }
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace obj
