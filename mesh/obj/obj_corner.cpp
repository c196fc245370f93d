// Face corner words (obj_corner.h).

#include "mesh/obj/obj_corner.h"

namespace obj {

namespace {

// An optionally signed decimal integer at p. Returns the first character
// after it, or null if there are no digits.
const char* parse_decimal(const char* p, const char* end, long long* out) {
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    const char* digits = p;
    long long value = 0;
    while (p < end && *p >= '0' && *p <= '9') {
        if (value < index_cap) value = value * 10 + (*p - '0');
        ++p;
    }
    if (p == digits) return nullptr;
    *out = negative ? -value : value;
    return p;
}

}  // namespace

bool parse_corner(const char* p, const char* end, long long* index, const char** index_end) {
    p = parse_decimal(p, end, index);
    if (!p) return false;
    *index_end = p;
    if (p == end) return true;
    if (*p++ != '/') return false;
    long long ignored = 0;
    if (p < end && *p == '/') return (p = parse_decimal(p + 1, end, &ignored)) && p == end;
    p = parse_decimal(p, end, &ignored);
    if (!p) return false;
    if (p == end) return true;
    if (*p++ != '/') return false;
    p = parse_decimal(p, end, &ignored);
    return p && p == end;
}

void long_corner::add(char c) {
    if (state_ == bad) return;
    if (c == '/') {
        if (state_ == digits && slashes_ < 2) {
            ++slashes_;
            state_ = need_sign_or_digit;
            just_slashed_ = true;
        } else if (state_ == need_sign_or_digit && just_slashed_ && slashes_ == 1) {
            slashes_ = 2;  // i//n
            just_slashed_ = false;
        } else {
            state_ = bad;
        }
        return;
    }
    just_slashed_ = false;
    if (slashes_ == 0) index_text_.add(c);
    if (c == '+' || c == '-') {
        if (state_ != need_sign_or_digit) {
            state_ = bad;
            return;
        }
        if (slashes_ == 0) negative_ = c == '-';
        state_ = need_digit;
    } else if (is_digit(c)) {
        if (slashes_ == 0 && index_ < index_cap) index_ = index_ * 10 + (c - '0');
        state_ = digits;
    } else {
        state_ = bad;
    }
}

bool long_corner::finish(long long* index) const {
    if (state_ != digits) return false;
    *index = negative_ ? -index_ : index_;
    return true;
}

std::string corner_message(const word_text& word) {
    return word.quoted() + " is not a face corner (i, i/t, i//n or i/t/n, decimal)";
}

}  // namespace obj
