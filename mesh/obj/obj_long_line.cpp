// A line too long for a block, fed in pieces at its turn (all of the file
// above it is known then), in bounded memory: whatever its length, only
// the current word's state and its first bytes are kept.

#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "mesh/obj/obj_corner.h"
#include "mesh/obj/obj_lines.h"
#include "mesh/obj/obj_loader.h"
#include "mesh/obj/obj_number.h"

namespace obj {

namespace {

class long_line {
public:
    // The line's failure is held until its end: a NUL byte later in the
    // line makes it binary, which is what gets reported then.
    long_line(loader& l, long long line) : s_{l, &failure_}, line_(line) {}

    void add(const char* p, const char* end) {
        for (; p < end && phase_ != phase::ignore; ++p) {
            const char c = *p;
            if (is_blank(c)) {
                if (in_word_) end_word();
            } else {
                if (!in_word_) start_word(c);
                add_to_word(c);
            }
        }
    }

    // The line ended (a line end or the end of the input).
    void end() {
        if (in_word_) end_word();
        if (phase_ == phase::vertex) fail("vertex line needs three numbers");
        if ((phase_ == phase::face || phase_ == phase::face_comment) && corners_.corners < 3)
            fail("face needs at least three corners");
        phase_ = phase::ignore;
        if (!failure_.empty()) loader::exact_sink{s_.l}.fail(line_, [&] { return failure_; });
    }

private:
    enum class phase { keyword, vertex, face, face_comment, ignore };

    void start_word(char c) {
        in_word_ = true;
        word_ = word_start();
        if (phase_ == phase::vertex) number_ = long_number();
        if (phase_ == phase::face) {
            if (c == '#') phase_ = phase::face_comment;
            corner_ = long_corner();
        }
    }

    void add_to_word(char c) {
        word_.add(c);
        if (phase_ == phase::vertex) number_.add(c);
        else if (phase_ == phase::face) corner_.add(c);
    }

    void end_word() {
        in_word_ = false;
        switch (phase_) {
        case phase::keyword: {
            const char c = word_.length() == 1 ? word_.text().begin[0] : '\0';
            phase_ = phase::ignore;
            if (c == 'v') {
                s_.vertex_line_seen();
                if (!s_.counting()) phase_ = phase::vertex;
            } else if (c == 'f' && !s_.counting()) {
                phase_ = phase::face;
            }
            break;
        }
        case phase::vertex: {
            float& value = xyz_[numbers_];
            const number_status status = number_.finish(&value);
            if (status != number_status::ok) return fail(number_message(status, word_.text()));
            value *= mesh_scale;
            if (!std::isfinite(value)) return fail(too_large_message(word_.text()));
            if (++numbers_ == 3) {
                phase_ = phase::ignore;
                s_.vertex(vector3{xyz_[0], xyz_[1], xyz_[2]});
            }
            break;
        }
        case phase::face: {
            long long index = 0;
            if (!corner_.finish(&index)) return fail(corner_message(word_.text()));
            std::int32_t slot = 0;
            if (!s_.resolve(index, corner_.index_text(), line_, &slot) || !corners_.add(s_, slot)) phase_ = phase::ignore;
            break;
        }
        case phase::face_comment:
        case phase::ignore: break;
        }
    }

    void fail(const std::string& what) {
        phase_ = phase::ignore;
        s_.fail(line_, [&] { return what; });
    }

    std::string failure_;
    loader::exact_sink s_;
    const long long line_;
    phase phase_ = phase::keyword;
    bool in_word_ = false;
    word_start word_;
    long_number number_;
    long_corner corner_;
    float xyz_[3] = {0.0f, 0.0f, 0.0f};
    int numbers_ = 0;
    fan<loader::exact_sink> corners_;
};

}  // namespace

void loader::take_long_line(unit& u) {
    long_line line(*this, 1);
    char* const text = u.text;
    line.add(text, text + u.size);
    for (;;) {
        if (finished_) return;
        if (input_ended_) {
            input_done_ = true;
            if (ended_at_nul_) {
                take_nul(lines_ + 1);
                return;
            }
            line.end();
            break;
        }
        const std::size_t n = fill(text, block_);
        std::size_t at = 0;
        while (at < n && !is_line_end(text[at])) ++at;
        line.add(text, text + at);
        if (at < n) {
            line.end();
            std::size_t next = at + 1;
            if (text[at] == '\r') {
                if (next < n && text[next] == '\n') ++next;
                else if (next == n) drop_lf_ = true;
            }
            carry_size_ = n - next;
            assert(carry_size_ < block_);
            std::memcpy(carry_.get(), text + next, carry_size_);
            break;
        }
    }
    if (finished_) return;
    ++lines_;
    after_unit();
}

}  // namespace obj
