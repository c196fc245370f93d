#pragma once

// Number words, read exactly as the float scanf's %f (strtof) reads them.
// Plain decimals take a shortcut; a word of a line too long to hold is fed
// in pieces to long_number, which keeps only what decides the result.

#include <cassert>
#include <cstdint>
#include <string>

#include "mesh/obj/obj_words.h"

namespace obj {

enum class number_status { ok, not_a_number, not_finite };

// The float strtof makes of the whole word, which must fill it.
number_status parse_float(const char* begin, const char* end, float* out);

// Every power of ten that the shortcuts divide by: all exact floats.
inline constexpr float powers_of_ten[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

// A number word at p. A plain decimal of at most 24 bits of digits and ten
// decimals is read in one go: the digits and the power of ten are exact
// floats, so one division rounds the exact quotient once, as strtof does.
inline number_status read_number(const char* p, const char* end, float* out, const char** stop) {
    assert(p < end);
    const char* q = p;
    const bool negative = *q == '-';
    if (*q == '-' || *q == '+') ++q;
    std::uint64_t digits = 0;
    long seen = 0;
    for (; q < end && static_cast<unsigned>(*q - '0') < 10; ++q, ++seen) digits = digits * 10 + static_cast<unsigned>(*q - '0');
    long decimals = 0;
    if (q < end && *q == '.') {
        for (++q; q < end && static_cast<unsigned>(*q - '0') < 10; ++q, ++decimals) digits = digits * 10 + static_cast<unsigned>(*q - '0');
        seen += decimals;
    }
    if (seen > 0 && seen <= 19 && (q == end || ends_word(*q)) && digits <= (1u << 24) && decimals <= 10) {
        const float value = static_cast<float>(static_cast<std::uint32_t>(digits)) / powers_of_ten[decimals];
        *out = negative ? -value : value;
        *stop = q;
        return number_status::ok;
    }
    const char* e = word_end(q, end);
    *stop = e;
    return parse_float(p, e, out);
}

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

// What is wrong with a coordinate word.
std::string number_message(number_status status, const word_text& word);
std::string too_large_message(const word_text& word);

}  // namespace obj
