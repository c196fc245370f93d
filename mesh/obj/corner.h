#pragma once

// Face corner words: i, i/t, i//n or i/t/n, each an optionally signed
// decimal, of which only the vertex index i is kept.

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>

#include "mesh/obj/chars.h"

namespace obj {

// Every index saturates here, far beyond any vertex count, so that any
// number of digits fits.
constexpr long long index_cap = 1LL << 40;

// A vertex slot as a face stores it; one far out of range stays out of range.
inline std::int32_t clamp_slot(long long slot) {
    return static_cast<std::int32_t>(std::clamp<long long>(slot, INT32_MIN, INT32_MAX));
}

// The shortcut for the corners of most files: an index of 1 to 12 digits
// (less than index_cap) and, after it, "/t", "//n" or "/t/n" with unsigned
// digits, then the word's end (or `end`). Returns false for anything else,
// which corner_reader then reads; on true, `*index_end` is where the
// index's digits end and `*stop` the word's end.
inline bool read_plain_corner(const char* p, const char* end, long long* index, const char** index_end,
                              const char** stop) {
    constexpr long most_digits = 12;
    const char* e = p;
    std::uint64_t digits = 0;  // wraps harmlessly past 19 digits: the word is passed on then
    while (e < end && is_digit(*e)) digits = digits * 10 + static_cast<unsigned>(*e++ - '0');
    if (e == p || e - p > most_digits) return false;
    *index = static_cast<long long>(digits);
    *index_end = e;
    if (e < end && *e == '/') {
        const char* const t = ++e;
        while (e < end && is_digit(*e)) ++e;
        if (e < end && *e == '/') {
            const char* const n = ++e;
            while (e < end && is_digit(*e)) ++e;
            if (e == n) return false;
        } else if (e == t) {
            return false;
        }
    }
    if (e < end && !ends_word(*e)) return false;
    *stop = e;
    return true;
}

// Any corner word, fed in one or more parts.
class corner_reader {
public:
    void add(const char* begin, const char* end) {
        for (const char* p = begin; p < end; ++p) add(*p);
    }
    // Whether the word was a corner, and then its index.
    bool finish(long long* index) const;
    // The bytes of the word before its first slash: the index as written.
    std::size_t index_length() const { return index_length_; }

private:
    void add(char c);

    enum state : unsigned char { need_sign_or_digit, need_digit, digits, bad };
    state state_ = need_sign_or_digit;
    int slashes_ = 0;
    bool just_slashed_ = false;
    bool negative_ = false;
    long long index_ = 0;
    std::size_t index_length_ = 0;
};

}  // namespace obj
