// How a message shows a word (word_text.h).

#include "mesh/obj/word_text.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace obj {

shown_word::shown_word(word_text w) : known(std::min(w.known, shown_bytes)), length(w.length) {
    assert(w.known == w.length || w.known >= shown_bytes);
    std::memcpy(bytes, w.begin, known);
}

std::string shown_word::text() const {
    std::string s;
    for (std::size_t i = 0; i < known; ++i) s += (bytes[i] >= 0x20 && bytes[i] < 0x7f) ? bytes[i] : '?';
    if (length > shown_bytes) s += "...";
    return s;
}

}  // namespace obj
