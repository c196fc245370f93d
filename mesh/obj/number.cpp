// Number words fed in parts (number.h).

#include "mesh/obj/number.h"

#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace obj {

namespace {

int hex_value(char c) {
    if (is_digit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

void number_reader::digit(int value, bool after_point) {
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

void number_reader::add(char c) {
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

number_status number_reader::finish(float* out) const {
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
    // A sign, "0x", the digits, the sticky digit, the exponent's letter and
    // sign, its seven digits at most, and the NUL.
    char word[kept_digits + 32];
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
        for (int i = 0; i < kept_; ++i) word[length++] = digits_[i];
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
    assert(length < sizeof word);
    word[length] = '\0';
    char* stop = nullptr;
    const float value = std::strtof(word, &stop);
    assert(stop == word + length);
    if (!std::isfinite(value)) return number_status::not_finite;
    *out = value;
    return number_status::ok;
}

number_status read_number_word(const char* p, const char* end, float* out, const char** stop) {
    if (read_decimal(p, end, out, stop)) return number_status::ok;
    *stop = word_end(p, end);
    number_reader reader;
    reader.add(p, *stop);
    return reader.finish(out);
}

}  // namespace obj
