#pragma once

// Coordinates: number words read exactly as the float scanf's %f (strtof)
// reads them, the whole word being the number. docs/obj-reading.md derives
// why both ways below round exactly as strtof does.

#include <cstdint>
#include <cstring>

#include "mesh/obj/chars.h"

namespace obj {

enum class number_status { ok, not_a_number, not_finite };

// Every power of ten the shortcut scales by: all exact doubles.
inline constexpr double powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                           1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int most_power = 22;

// Whether a double in the range of normal floats lies exactly halfway
// between two floats: its significand ends in a 1 and 28 zeros, the bits a
// double has beyond a float's.
inline bool on_float_halfway(double d) {
    constexpr int extra_bits = 52 - 23;
    constexpr std::uint64_t extra = (std::uint64_t{1} << extra_bits) - 1;
    constexpr std::uint64_t half = std::uint64_t{1} << (extra_bits - 1);
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return (bits & extra) == half;
}

// The shortcut for decimals, which nearly every coordinate is: an optional
// sign, at most 19 digits (a point among them) worth at most 2^53, an
// optional exponent, then the word's end (or `end`), the digits being worth
// 10^-22 to 10^22 times their integer. That integer and the power of ten are
// exact doubles, so one division or multiplication rounds the exact value
// once; rounding that double to a float rounds the exact value the same way
// unless the double lies on a float halfway point. Returns false for
// anything else, which number_reader then reads; on true, `*stop` is the
// word's end.
inline bool read_decimal(const char* p, const char* end, float* out, const char** stop) {
    const char* q = p;
    const bool negative = q < end && *q == '-';
    if (q < end && (*q == '-' || *q == '+')) ++q;
    std::uint64_t digits = 0;
    int seen = 0;
    for (; q < end && is_digit(*q); ++q, ++seen) digits = digits * 10 + static_cast<unsigned>(*q - '0');
    int decimals = 0;
    if (q < end && *q == '.') {
        for (++q; q < end && is_digit(*q); ++q, ++decimals) digits = digits * 10 + static_cast<unsigned>(*q - '0');
        seen += decimals;
    }
    int exponent = 0;
    if (q < end && !ends_word(*q)) {
        if (*q != 'e' && *q != 'E') return false;
        ++q;
        const bool exponent_negative = q < end && *q == '-';
        if (q < end && (*q == '-' || *q == '+')) ++q;
        const char* const first = q;
        constexpr int most_exponent_digits = 4;
        for (; q < end && is_digit(*q) && q - first < most_exponent_digits; ++q) exponent = exponent * 10 + (*q - '0');
        if (q == first || (q < end && !ends_word(*q))) return false;
        if (exponent_negative) exponent = -exponent;
    }
    constexpr int most_digits = 19;  // any 19 digits fit 64 bits
    constexpr std::uint64_t exact_limit = std::uint64_t{1} << 53;
    const int power = exponent - decimals;
    if (seen == 0 || seen > most_digits || digits > exact_limit || power < -most_power || power > most_power)
        return false;
    const auto exact = static_cast<double>(static_cast<std::int64_t>(digits));
    const double rounded = power < 0 ? exact / powers_of_ten[-power] : exact * powers_of_ten[power];
    if (on_float_halfway(rounded)) return false;
    const auto value = static_cast<float>(rounded);
    *out = negative ? -value : value;
    *stop = q;
    return true;
}

// Any number word, fed in one or more parts (a word may be longer than all
// the text held at once): it follows strtof's grammar as the bytes come and
// keeps the sign, the first 120 significant digits, whether any later digit
// is nonzero, and the exponent. strtof of the short word made from them
// gives the same float.
class number_reader {
public:
    void add(const char* begin, const char* end) {
        for (const char* p = begin; p < end; ++p) add(*p);
    }
    number_status finish(float* out) const;

private:
    enum state : unsigned char {
        start, sign, zero, int_digits, point_first, frac_digits, exp_mark, exp_sign, exp_digits,
        hex_start, hex_point_first, hex_int, hex_frac, bin_mark, bin_sign, bin_digits,
        letters, nan_open, nan_closed, bad
    };
    void add(char c);
    void digit(int value, bool after_point);

    static constexpr int kept_digits = 120;
    state state_ = start;
    bool negative_ = false;
    bool hex_ = false;
    bool sticky_ = false;  // a digit after the kept ones was nonzero
    bool exponent_negative_ = false;
    const char* letters_ = nullptr;  // "infinity" or "nan", while spelling one
    int matched_ = 0;
    int kept_ = 0;
    long long scale_ = 0;     // the kept digits are worth this power of the base more
    long long exponent_ = 0;  // as written, saturating
    char digits_[kept_digits];
};

// A whole number word starting at p, held at once in [p, end): the
// shortcut, else the reader. `*stop` is set to the word's end.
number_status read_number_word(const char* p, const char* end, float* out, const char** stop);

}  // namespace obj
