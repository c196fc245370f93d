// How a word is shown in a message (obj_words.h).

#include "mesh/obj/obj_words.h"

namespace obj {

std::string word_text::shown() const {
    constexpr std::size_t shown_length = 32;
    std::string s;
    for (std::size_t i = 0; i < known && i < shown_length; ++i) s += (begin[i] >= 0x20 && begin[i] < 0x7f) ? begin[i] : '?';
    if (length > shown_length) s += "...";
    return s;
}

}  // namespace obj
