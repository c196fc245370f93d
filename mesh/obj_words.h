#pragma once

// The words of an OBJ line: numbers, face corners and how a word is shown in
// a message. Lines that fit in memory are parsed in place; a word of a line
// too long to hold is fed in pieces to long_number or long_corner, which keep
// only what decides the result.

#include <cstddef>
#include <string>

// Space, tab, vertical tab and form feed separate words; CR and LF end lines.
inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }
inline bool is_line_end(char c) { return c == '\n' || c == '\r'; }
inline bool ends_word(char c) { return is_blank(c) || is_line_end(c); }

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

enum class number_status { ok, not_a_number, not_finite };

// The float scanf's %f (strtof) makes of the whole word, which must fill it.
number_status parse_float(const char* begin, const char* end, float* out);

// One corner group: i, i/t, i//n or i/t/n, each an optionally signed
// decimal. Only the vertex index is kept; it saturates far beyond any vertex
// count. `index_end` is where its digits end.
bool parse_corner(const char* begin, const char* end, long long* index, const char** index_end);

// Every index saturates here, so that any count of digits fits.
constexpr long long index_cap = 1LL << 40;

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

// strtof of a word fed byte by byte, in bounded memory: it checks strtof's
// grammar as it goes and keeps the sign, the first 120 significant digits,
// whether any later digit is nonzero, and the exponent. That decides the
// rounding (no float halfway point has more than 113 significant digits),
// so strtof of the short word made from them gives the same float.
class long_number {
public:
    void add(char c);
    number_status finish(float* out) const;

private:
    enum state : unsigned char {
        start, sign, zero, int_digits, point_first, frac_digits, exp_mark, exp_sign, exp_digits,
        hex_start, hex_point_first, hex_int, hex_frac, bin_mark, bin_sign, bin_digits,
        letters, nan_open, nan_closed, bad
    };
    void digit(int value, bool after_point);

    static constexpr int kept_digits = 120;
    state state_ = start;
    bool negative_ = false;
    bool hex_ = false;
    bool sticky_ = false;          // a dropped digit was nonzero
    bool exponent_negative_ = false;
    const char* letters_ = nullptr;  // "infinity" or "nan", while spelling one
    int matched_ = 0;
    int kept_ = 0;
    long long scale_ = 0;          // the kept digits are worth this power of the base more
    long long exponent_ = 0;       // as written, saturating
    char digits_[kept_digits];
};

// parse_corner of a word fed byte by byte.
class long_corner {
public:
    void add(char c);
    // The index and whether the word was a corner.
    bool finish(long long* index) const;
    word_text index_text() const { return index_text_.text(); }

private:
    enum state : unsigned char { need_sign_or_digit, need_digit, digits, bad };
    state state_ = need_sign_or_digit;
    int slashes_ = 0;
    bool just_slashed_ = false;
    bool negative_ = false;
    long long index_ = 0;
    word_start index_text_;
};
