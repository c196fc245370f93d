#pragma once

// A word as a message shows it: its first bytes, anything outside printable
// ASCII as '?', then "..." if it is longer. Only that much of a word is ever
// kept, however long it is.

#include <cstddef>
#include <string>

namespace obj {

constexpr std::size_t shown_bytes = 32;

// A word in the text: `known` of its bytes are at `begin` (all of them, or
// at least shown_bytes), of `length` in all.
struct word_text {
    const char* begin;
    std::size_t known;
    std::size_t length;
};

inline word_text whole_word(const char* begin, const char* end) {
    const auto length = static_cast<std::size_t>(end - begin);
    return {begin, length, length};
}

// A copy of what a message shows of a word, kept after the text is gone.
struct shown_word {
    char bytes[shown_bytes];
    std::size_t known = 0;
    std::size_t length = 0;

    shown_word() = default;
    explicit shown_word(word_text w);
    std::string text() const;
};

}  // namespace obj
