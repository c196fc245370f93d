// Number words (obj_number.h): the shortcut for plain decimals, strtof for
// the rest, and long_number's reading of a word fed in pieces.

#include "mesh/obj/obj_number.h"

#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace obj {

namespace {

// Plain decimals with at most 24 bits of digits and at most ten of them
// after the point (every coordinate of a typical scan) take a shortcut: the
// digits and the power of ten are both exact floats, so one IEEE division
// rounds the exact quotient once, which is the correctly rounded float that
// strtof returns too. Anything else goes to strtof.
bool parse_simple_decimal(const char* p, const char* end, float* out) {
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    std::uint32_t digits = 0;
    int decimals = -1;  // -1 until the point is seen
    int digit_count = 0;
    for (; p < end; ++p) {
        if (*p >= '0' && *p <= '9') {
            digits = digits * 10 + static_cast<std::uint32_t>(*p - '0');
            if (digits > (1u << 24)) return false;
            ++digit_count;
            if (decimals >= 0 && ++decimals > 10) return false;
        } else if (*p == '.' && decimals < 0) {
            decimals = 0;
        } else {
            return false;
        }
    }
    if (digit_count == 0) return false;
    const float value = static_cast<float>(digits) / powers_of_ten[decimals < 0 ? 0 : decimals];
    *out = negative ? -value : value;
    return true;
}

number_status from_strtof(const char* word, std::size_t length, float* out) {
    char* stop = nullptr;
    const float value = std::strtof(word, &stop);
    if (stop != word + length || length == 0) return number_status::not_a_number;
    if (!std::isfinite(value)) return number_status::not_finite;
    *out = value;
    return number_status::ok;
}

int hex_value(char c) {
    if (is_digit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

number_status parse_float(const char* begin, const char* end, float* out) {
    if (parse_simple_decimal(begin, end, out)) return number_status::ok;
    // strtof wants a terminated string and the text is not terminated, so
    // the word is copied out first; a longer one is read as it would be in
    // pieces, which allocates nothing.
    const std::size_t length = static_cast<std::size_t>(end - begin);
    char word[512];
    if (length < sizeof word) {
        std::memcpy(word, begin, length);
        word[length] = '\0';
        return from_strtof(word, length, out);
    }
    long_number number;
    for (const char* p = begin; p < end; ++p) number.add(*p);
    return number.finish(out);
}

void long_number::digit(int value, bool after_point) {
    assert(value >= 0 && value < 16);
    if (kept_ == 0 && value == 0) {  // a leading zero
        if (after_point) --scale_;
    } else if (kept_ < kept_digits) {
        digits_[kept_++] = "0123456789abcdef"[value];
        if (after_point) --scale_;
    } else {
        if (!after_point) ++scale_;
        if (value != 0) sticky_ = true;
    }
}

void long_number::add(char c) {
    const bool decimal_digit = is_digit(c);
    const int hex = hex_value(c);
    const char l = lower(c);
    switch (state_) {
    case start:
        if (c == '+' || c == '-') {
            negative_ = c == '-';
            state_ = sign;
            return;
        }
        [[fallthrough]];
    case sign:
        if (c == '0') {
            state_ = zero;
        } else if (decimal_digit) {
            digit(c - '0', false);
            state_ = int_digits;
        } else if (c == '.') {
            state_ = point_first;
        } else if (l == 'i' || l == 'n') {
            letters_ = l == 'i' ? "infinity" : "nan";
            matched_ = 1;
            state_ = letters;
        } else {
            state_ = bad;
        }
        return;
    case zero:
        if (l == 'x') {
            hex_ = true;
            state_ = hex_start;
            return;
        }
        state_ = int_digits;
        [[fallthrough]];
    case int_digits:
        if (decimal_digit) digit(c - '0', false);
        else if (c == '.') state_ = frac_digits;
        else if (l == 'e') state_ = exp_mark;
        else state_ = bad;
        return;
    case point_first:
    case frac_digits:
        if (decimal_digit) {
            digit(c - '0', true);
            state_ = frac_digits;
        } else if (l == 'e' && state_ == frac_digits) {
            state_ = exp_mark;
        } else {
            state_ = bad;
        }
        return;
    case hex_start:
    case hex_int:
        if (hex >= 0) {
            digit(hex, false);
            state_ = hex_int;
        } else if (c == '.') {
            state_ = state_ == hex_start ? hex_point_first : hex_frac;
        } else if (l == 'p' && state_ == hex_int) {
            state_ = bin_mark;
        } else {
            state_ = bad;
        }
        return;
    case hex_point_first:
    case hex_frac:
        if (hex >= 0) {
            digit(hex, true);
            state_ = hex_frac;
        } else if (l == 'p' && state_ == hex_frac) {
            state_ = bin_mark;
        } else {
            state_ = bad;
        }
        return;
    case exp_mark:
    case bin_mark:
        if (c == '+' || c == '-') {
            exponent_negative_ = c == '-';
            state_ = state_ == exp_mark ? exp_sign : bin_sign;
            return;
        }
        [[fallthrough]];
    case exp_sign:
    case bin_sign:
    case exp_digits:
    case bin_digits:
        if (!decimal_digit) {
            state_ = bad;
            return;
        }
        if (exponent_ < 100000000) exponent_ = exponent_ * 10 + (c - '0');
        state_ = (state_ == exp_mark || state_ == exp_sign || state_ == exp_digits) ? exp_digits : bin_digits;
        return;
    case letters:
        if (letters_[matched_] != '\0' && l == letters_[matched_]) {
            ++matched_;
        } else if (c == '(' && matched_ == 3 && letters_[0] == 'n') {
            state_ = nan_open;
        } else {
            state_ = bad;
        }
        return;
    case nan_open:
        if (c == ')') state_ = nan_closed;
        else if (!(is_digit(c) || (l >= 'a' && l <= 'z') || c == '_')) state_ = bad;
        return;
    case nan_closed:
    case bad:
        state_ = bad;
        return;
    }
}

number_status long_number::finish(float* out) const {
    switch (state_) {
    case zero:
    case int_digits:
    case frac_digits:
    case exp_digits:
    case hex_int:
    case hex_frac:
    case bin_digits:
        break;
    case letters:
        // "inf", "infinity" and "nan" in full, nothing in between.
        if (matched_ == 3 || letters_[matched_] == '\0') return number_status::not_finite;
        return number_status::not_a_number;
    case nan_closed:
        return number_status::not_finite;
    default:
        return number_status::not_a_number;
    }
    char word[kept_digits + 32];
    // A sign, "0x", the digits, the sticky digit, the exponent's letter and
    // sign, its seven digits at most, and the NUL.
    static_assert(sizeof word >= 1 + 2 + kept_digits + 1 + 2 + 7 + 1, "the short word always fits");
    std::size_t length = 0;
    if (negative_) word[length++] = '-';
    if (kept_ == 0) {
        word[length++] = '0';
    } else {
        if (hex_) {
            word[length++] = '0';
            word[length++] = 'x';
        }
        std::memcpy(word + length, digits_, static_cast<std::size_t>(kept_));
        length += static_cast<std::size_t>(kept_);
        long long scale = scale_;
        if (sticky_) {
            // Any nonzero digit after the kept ones: a 1 in the next place
            // lies strictly between the same two neighbours.
            word[length++] = '1';
            --scale;
        }
        long long exponent = (exponent_negative_ ? -exponent_ : exponent_) + (hex_ ? 4 : 1) * scale;
        // Far beyond the range of a float either way, so the result stays.
        constexpr long long limit = 1000000;
        exponent = exponent < -limit ? -limit : exponent > limit ? limit : exponent;
        length += static_cast<std::size_t>(
            std::snprintf(word + length, sizeof word - length, "%c%lld", hex_ ? 'p' : 'e', exponent));
    }
    word[length] = '\0';
    return from_strtof(word, length, out);
}

std::string number_message(number_status status, const word_text& word) {
    return word.quoted() + (status == number_status::not_a_number ? " is not a number" : " is not a finite number");
}

std::string too_large_message(const word_text& word) { return word.quoted() + " is too large to scale by 5000"; }

}  // namespace obj
