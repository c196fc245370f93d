#pragma once

// Face corner words: i, i/t, i//n or i/t/n, each an optionally signed
// decimal, of which only the vertex index i is kept. A word of a line too
// long to hold is fed in pieces to long_corner.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>

#include "mesh/obj/obj_words.h"

namespace obj {

// Every index saturates here, so that any count of digits fits.
constexpr long long index_cap = 1LL << 40;

// One corner group. The index saturates far beyond any vertex count;
// `index_end` is where its digits end.
bool parse_corner(const char* begin, const char* end, long long* index, const char** index_end);

// A vertex slot as a face stores it; one far out of range stays out of range.
inline std::int32_t clamp_slot(long long slot) {
    return static_cast<std::int32_t>(std::clamp<long long>(slot, INT32_MIN, INT32_MAX));
}

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

// What is wrong with a word that is not a corner.
std::string corner_message(const word_text& word);

}  // namespace obj
