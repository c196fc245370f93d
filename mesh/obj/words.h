#pragma once

// The tokenizer: OBJ text as lines of words, for the grammar. It reads
// [begin, end): a block of whole lines (block_words), or the first piece of
// a line longer than a block, whose further pieces come from a line_rest
// (line_words). A word cut between two pieces is fed to its reader part by
// part, so nothing here grows with the length of a line or of a word. The
// two are one template, so that a block's words, which never continue
// elsewhere, cost nothing for the pieces a long line has.

#include <algorithm>
#include <cassert>
#include <cstring>

#include "mesh/obj/chars.h"
#include "mesh/obj/corner.h"
#include "mesh/obj/number.h"
#include "mesh/obj/word_text.h"

namespace obj {

// The rest of a line longer than a block.
class line_rest {
public:
    static constexpr bool has_pieces = true;
    // Points [*begin, *end) at the line's next piece, which is never empty
    // and holds no line end; false once the line has ended.
    virtual bool next(const char** begin, const char** end) = 0;

protected:
    ~line_rest() = default;
};

// What follows a block of whole lines: nothing.
struct no_rest {
    static constexpr bool has_pieces = false;
    bool next(const char**, const char**) { return false; }
};

// A corner word: whether it is one, its index, and how a message shows the
// index as written (`index_text`) or the whole word (`word`).
struct corner_word {
    bool ok;
    long long index;
    word_text index_text;
    word_text word;
};

template <typename rest_type>
class basic_words {
public:
    basic_words(const char* begin, const char* end, rest_type* rest = nullptr) : p_(begin), end_(end), rest_(rest) {}

    // No text left.
    bool at_end() { return p_ == end_ && !refill(); }

    // The line's first word, if it is a single byte; otherwise '\0'.
    char first_word_letter() {
        skip_blanks();
        if (p_ == end_ || is_line_end(*p_)) return '\0';
        const char c = *p_++;
        if (p_ == end_) refill();
        return p_ == end_ || ends_word(*p_) ? c : '\0';
    }

    // Steps over blanks; true when the line has no more words.
    bool line_ends() {
        skip_blanks();
        return p_ == end_ || is_line_end(*p_);
    }

    // After line_ends(): whether the next word starts a comment.
    bool comment_starts() const { return *p_ == '#'; }

    // After line_ends(): the next word as a number (`shown` for a message).
    number_status number(float* out, word_text* shown) {
        // The shortcut and the reader each write a local of their own: only
        // the reader's, whose address leaves, lives in memory.
        float value = 0.0f;
        const char* stop = nullptr;
        if (read_decimal(p_, end_, &value, &stop) && (stop < end_ || !has_pieces)) {
            *out = value;
            *shown = whole_word(p_, stop);
            p_ = stop;
            return number_status::ok;
        }
        number_reader reader;
        *shown = read_word(reader);
        float read = 0.0f;
        const number_status status = reader.finish(&read);
        *out = read;
        return status;
    }

    // After line_ends(): the next word as a face corner.
    corner_word corner() {
        // Locals, not the fields of the result, take what the shortcut and
        // the reader write: then only the reader's live in memory.
        long long index = 0;
        const char* index_end = nullptr;
        const char* stop = nullptr;
        if (read_plain_corner(p_, end_, &index, &index_end, &stop) && (stop < end_ || !has_pieces)) {
            const char* const begin = p_;
            p_ = stop;
            return {true, index, whole_word(begin, index_end), whole_word(begin, stop)};
        }
        corner_reader reader;
        const word_text word = read_word(reader);
        long long read = 0;
        const bool ok = reader.finish(&read);
        const std::size_t length = reader.index_length();
        return {ok, read, {word.begin, length < word.known ? length : word.known, length}, word};
    }

    // Past the end of the current line.
    void next_line() {
        for (;;) {
            while (p_ < end_ && !is_line_end(*p_)) ++p_;
            if (p_ < end_) {
                if (*p_++ == '\r' && p_ < end_ && *p_ == '\n') ++p_;
                return;
            }
            if (!refill()) return;
        }
    }

private:
    void skip_blanks() {
        for (;;) {
            while (p_ < end_ && is_blank(*p_)) ++p_;
            if (p_ < end_ || !refill()) return;
        }
    }

    static constexpr bool has_pieces = rest_type::has_pieces;

    bool refill() {
        if constexpr (has_pieces) {
            if (!rest_->next(&p_, &end_)) return false;
            assert(p_ < end_ && std::find_if(p_, end_, is_line_end) == end_);
            return true;
        }
        return false;
    }

    // The word at p_, fed whole or part by part to `reader`.
    template <typename reader_type>
    word_text read_word(reader_type& reader) {
        const char* begin = p_;
        while (p_ < end_ && !ends_word(*p_)) ++p_;
        reader.add(begin, p_);
        if (p_ < end_ || !has_pieces) return whole_word(begin, p_);
        // The word may go on in the next piece, which takes this one's
        // place: only its first bytes are kept, for a message.
        std::size_t length = 0;
        for (;;) {
            keep(begin, p_, length);
            length += static_cast<std::size_t>(p_ - begin);
            if (p_ < end_ || !refill()) break;
            begin = p_;
            while (p_ < end_ && !ends_word(*p_)) ++p_;
            reader.add(begin, p_);
        }
        return {prefix_, length < shown_bytes ? length : shown_bytes, length};
    }

    // Copies what still fits of [begin, end) into the word's first bytes,
    // `at` of which are there already.
    void keep(const char* begin, const char* end, std::size_t at) {
        if (at >= shown_bytes) return;
        const std::size_t room = shown_bytes - at;
        const auto length = static_cast<std::size_t>(end - begin);
        std::memcpy(prefix_ + at, begin, length < room ? length : room);
    }

    const char* p_;
    const char* end_;
    rest_type* rest_;
    char prefix_[shown_bytes];
};

using block_words = basic_words<no_rest>;
using line_words = basic_words<line_rest>;

}  // namespace obj
