// One block parsed on its own (obj_block.h).

#include "mesh/obj/obj_block.h"

#include <algorithm>

#include "mesh/obj/obj_lines.h"

namespace obj {

namespace {

struct block_slot {
    std::int32_t value;
    bool relative;
};

// Anything it cannot settle alone stops the block, to be parsed again at
// its turn.
struct block_sink {
    using slot = block_slot;
    block_result& r;

    bool counting() const { return false; }
    void vertex_line_seen() {}
    bool halted() const { return false; }
    template <typename message>
    bool fail(long long, const message&) {
        return stop();
    }
    bool stop() {
        r.needs_context = true;
        return false;
    }
    bool full() {
        r.out_of_memory = true;
        return false;
    }
    bool vertex(const vector3& v) { return r.vertices.push(v) || full(); }
    bool resolve(long long index, const word_text&, long long, slot* out) {
        if (index > 0) {
            r.max_index = std::max(r.max_index, index);
            *out = {clamp_slot(index - 1), false};
        } else if (index < 0) {
            const long long local = r.vertices.size() + index;
            r.min_relative = std::min(r.min_relative, local);
            *out = {clamp_slot(local), true};
        } else {
            return stop();
        }
        return true;
    }
    bool face(slot a, slot b, slot c) {
        const unsigned mask = (a.relative ? 1u : 0u) | (b.relative ? 2u : 0u) | (c.relative ? 4u : 0u);
        if (mask && !r.relative_faces.push(static_cast<std::uint64_t>(r.faces.size()) * 8 + mask)) return full();
        return r.faces.push(face_corners{{a.value, b.value, c.value}}) || full();
    }
};

}  // namespace

void parse_block(const char* begin, const char* end, block_result& r) {
    r.clear();
    block_sink s{r};
    r.lines = parse_lines(begin, end, s);
}

}  // namespace obj
