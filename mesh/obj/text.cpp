// Reading the text (text.h).

#include "mesh/obj/text.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace obj {

namespace {

// Just past the last line end of the text, or 0 if there is none.
std::size_t last_line_end(const char* text, std::size_t size) {
    for (std::size_t i = size; i > 0; --i)
        if (is_line_end(text[i - 1])) return i;
    return 0;
}

}  // namespace

text_reader::text_reader(input& in, std::size_t block) : in_(in), block_(block), carry_(new char[block]) {}

// A byte-order mark can only be told from the first bytes.
bool text_reader::start() {
    start_size_ = in_.read(start_, sizeof start_);
    source_ended_ = start_size_ < sizeof start_;
    const auto* b = reinterpret_cast<const unsigned char*>(start_);
    if (start_size_ >= 2 && ((b[0] == 0xff && b[1] == 0xfe) || (b[0] == 0xfe && b[1] == 0xff))) return false;
    if (start_size_ == 3 && b[0] == 0xef && b[1] == 0xbb && b[2] == 0xbf) start_size_ = 0;
    return true;
}

// Up to `n` bytes of text, fewer only at its end. An LF right after a CR
// that ended the bytes handed out before is dropped: the CR has ended the
// line already. Nothing at or after a NUL byte is handed out.
std::size_t text_reader::fill(char* to, std::size_t n) {
    std::size_t got = 0;
    while (got < n && !ended_) {
        char* const at = to + got;
        std::size_t r = 0;
        if (start_size_ > 0) {
            r = std::min(start_size_, n - got);
            std::memcpy(at, start_, r);
            std::memmove(start_, start_ + r, start_size_ - r);
            start_size_ -= r;
        } else if (source_ended_) {
            ended_ = true;
            break;
        } else {
            r = in_.read(at, n - got);
            if (r < n - got) source_ended_ = true;
        }
        // Only the first bytes of this call follow bytes handed out before;
        // later ones follow this call's own, where a CR LF stays whole.
        if (r > 0 && after_cr_) {
            after_cr_ = false;
            if (got == 0 && at[0] == '\n') std::memmove(at, at + 1, --r);
        }
        if (const void* nul = r > 0 ? std::memchr(at, '\0', r) : nullptr) {
            r = static_cast<std::size_t>(static_cast<const char*>(nul) - at);
            ended_ = at_nul_ = true;
        }
        if (r > 0) after_cr_ = at[r - 1] == '\r';
        got += r;
    }
    return got;
}

text_end text_reader::ending() const {
    assert(ended_);
    if (at_nul_) return text_end::nul_byte;
    return in_.error() != 0 ? text_end::read_error : text_end::end_of_input;
}

void text_reader::keep_for_next_unit(const char* from, std::size_t n) {
    // What follows a cut holds no line end, so it lies in the bytes of one
    // fill: less than a block.
    assert(carry_size_ == 0 && n < block_);
    std::memcpy(carry_.get(), from, n);
    carry_size_ = n;
}

unit_kind text_reader::next(text_unit& u) {
    if (done_) return unit_kind::none;
    u.end = text_end::more;
    // What followed a long line may hold whole lines already.
    if (const std::size_t whole = last_line_end(carry_.get(), carry_size_)) {
        std::memcpy(u.text, carry_.get(), whole);
        carry_size_ -= whole;
        std::memmove(carry_.get(), carry_.get() + whole, carry_size_);
        u.size = whole;
        return unit_kind::lines;
    }
    std::memcpy(u.text, carry_.get(), carry_size_);
    const std::size_t size = carry_size_ + fill(u.text + carry_size_, block_);
    carry_size_ = 0;
    if (ended_) {
        done_ = true;
        u.end = ending();
        u.error = in_.error();
        // The last line is whole at the end of the input; before a NUL byte
        // or a failed read it is not.
        u.size = u.end == text_end::end_of_input ? size : last_line_end(u.text, size);
        return size == 0 && u.end == text_end::end_of_input ? unit_kind::none : unit_kind::lines;
    }
    assert(size <= 2 * block_);
    const std::size_t cut = last_line_end(u.text, size);
    u.size = cut;
    if (cut == 0) {
        u.size = size;
        return unit_kind::long_line;
    }
    keep_for_next_unit(u.text + cut, size - cut);
    return unit_kind::lines;
}

bool text_reader::line_pieces::next(const char** begin, const char** end) {
    if (ended_) return false;
    const std::size_t n = reader_.fill(buffer_, reader_.block_);
    const char* const line_end = std::find_if(buffer_, buffer_ + n, is_line_end);
    if (line_end < buffer_ + n) {
        ended_ = true;
        const char* rest = line_end + 1;
        if (*line_end == '\r' && rest < buffer_ + n && *rest == '\n') ++rest;
        reader_.keep_for_next_unit(rest, static_cast<std::size_t>(buffer_ + n - rest));
    } else if (reader_.ended_) {
        ended_ = true;
        reader_.done_ = true;
        end_ = reader_.ending();
        error_ = reader_.in_.error();
    }
    *begin = buffer_;
    *end = line_end;
    return line_end > buffer_;
}

}  // namespace obj
