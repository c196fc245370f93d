// Reading the text: the start checks (a UTF-8 byte-order mark is skipped,
// UTF-16 refused), then units of whole lines cut from blocks of the input,
// lines ending with LF, CR LF or CR even when a CR LF is split between two
// reads, and nothing read past a NUL byte, which makes the file binary.

#include <cassert>
#include <cstring>

#include "mesh/obj/obj_loader.h"

namespace obj {

// A byte-order mark can only be told from the first bytes.
bool loader::read_start(std::string* error) {
    start_size_ = in_.read(start_, sizeof start_);
    source_ended_ = start_size_ < sizeof start_;
    const unsigned char* b = reinterpret_cast<const unsigned char*>(start_);
    if (start_size_ >= 2 && ((b[0] == 0xff && b[1] == 0xfe) || (b[0] == 0xfe && b[1] == 0xff))) {
        if (error) *error = std::string(name_) + ":1: UTF-16 text; save it as UTF-8 to load it";
        return false;
    }
    if (start_size_ == 3 && b[0] == 0xef && b[1] == 0xbb && b[2] == 0xbf) start_size_ = 0;
    return true;
}

// Up to `n` bytes of text, fewer only at its end: after the start checks,
// without the LF of a CR LF split between two reads, and cut at a NUL byte.
std::size_t loader::fill(char* to, std::size_t n) {
    std::size_t got = 0;
    while (got < n && !input_ended_) {
        std::size_t r = 0;
        if (start_size_ > 0) {
            r = std::min(start_size_, n - got);
            std::memcpy(to + got, start_, r);
            std::memmove(start_, start_ + r, start_size_ - r);
            start_size_ -= r;
        } else if (source_ended_) {
            input_ended_ = true;
            break;
        } else {
            r = in_.read(to + got, n - got);
            if (r < n - got) source_ended_ = input_ended_ = true;
        }
        if (drop_lf_ && r > 0) {
            drop_lf_ = false;
            if (to[got] == '\n') std::memmove(to + got, to + got + 1, --r);
        }
        if (const void* nul = r > 0 ? std::memchr(to + got, '\0', r) : nullptr) {
            r = static_cast<std::size_t>(static_cast<const char*>(nul) - (to + got));
            input_ended_ = ended_at_nul_ = true;
        }
        got += r;
    }
    return got;
}

// Just past the last line end of the text, or 0 if there is none.
std::size_t loader::last_line_end(const char* text, std::size_t size) const {
    for (std::size_t i = size; i > 0; --i)
        if (is_line_end(text[i - 1])) return i;
    return 0;
}

// The next unit: the carried-over start of a line and a block's worth more,
// cut after its last line end; or, when no line ends there, a long line.
loader::unit_kind loader::read_unit(unit& u) {
    if (input_done_) return unit_kind::none;
    char* const text = u.text;
    u.nul = false;
    // What follows a long line may hold whole lines already.
    if (const std::size_t whole = last_line_end(carry_.get(), carry_size_)) {
        std::memcpy(text, carry_.get(), whole);
        carry_size_ -= whole;
        std::memmove(carry_.get(), carry_.get() + whole, carry_size_);
        if (carry_size_ == 0 && text[whole - 1] == '\r') drop_lf_ = true;
        u.size = u.parse_end = whole;
        return unit_kind::block;
    }
    std::memcpy(text, carry_.get(), carry_size_);
    u.size = carry_size_ + fill(text + carry_size_, block_);
    carry_size_ = 0;
    if (input_ended_) {
        input_done_ = true;
        if (u.size == 0 && !ended_at_nul_) return unit_kind::none;
        u.nul = ended_at_nul_;
        u.parse_end = u.nul ? last_line_end(text, u.size) : u.size;
        return unit_kind::block;
    }
    const std::size_t cut = last_line_end(text, u.size);
    if (cut == 0) return unit_kind::long_line;
    if (text[cut - 1] == '\r' && cut == u.size) drop_lf_ = true;
    carry_size_ = u.size - cut;
    // The carry holds no line end, so the cut lies in the bytes just read.
    assert(carry_size_ < block_);
    std::memcpy(carry_.get(), text + cut, carry_size_);
    u.size = u.parse_end = cut;
    return unit_kind::block;
}

}  // namespace obj
