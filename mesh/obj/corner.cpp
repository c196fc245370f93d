// Corner words fed in parts (corner.h).

#include "mesh/obj/corner.h"

#include <cassert>

namespace obj {

void corner_reader::add(char c) {
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
    if (slashes_ == 0) ++index_length_;
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

bool corner_reader::finish(long long* index) const {
    if (state_ != digits) return false;
    assert(index_ < index_cap * 10);
    *index = negative_ ? -index_ : index_;
    return true;
}

}  // namespace obj
