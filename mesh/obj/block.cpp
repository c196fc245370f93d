// One block parsed on its own (block.h).

#include "mesh/obj/block.h"

#include <algorithm>
#include <cassert>

#include "mesh/obj/corner.h"
#include "mesh/obj/grammar.h"

namespace obj {

namespace {

struct block_slot {
    std::int32_t value;
    bool relative;
};

struct block_sink {
    using slot = block_slot;
    block_result& r;

    bool counting() const { return false; }
    void vertex_line() {}
    bool vertex(const vector3& v) {
        r.vertices.push(v);
        return true;
    }
    bool resolve(long long index, word_text text, long long, slot* out, problem* why) {
        if (index > 0) {
            r.max_index = std::max(r.max_index, index);
            *out = {clamp_slot(index - 1), false};
        } else if (index < 0) {
            const long long local = r.vertices.size() + index;
            r.min_relative = std::min(r.min_relative, local);
            *out = {clamp_slot(local), true};
        } else {
            *why = problem(problem::kind::index_zero, text);
            return false;
        }
        return true;
    }
    bool face(slot a, slot b, slot c) {
        if (a.relative || b.relative || c.relative) {
            const auto face = static_cast<std::int32_t>(r.faces.size());
            const slot corners[3] = {a, b, c};
            for (std::int32_t j = 0; j < 3; ++j)
                if (corners[j].relative) r.relative_corners.push({face, j});
        }
        r.faces.push(face_corners{{a.value, b.value, c.value}});
        return true;
    }
    bool bad_line(long long, const problem&) {
        r.needs_context = true;
        return false;
    }
};

}  // namespace

// The most a block of n bytes can hold (docs/obj-reading.md): a vertex line
// takes at least 8 bytes with its line end ("v 0 0 0", the last line
// perhaps without one), a triangle at least 2 ("f 1 1 1" and " 1" for each
// further corner), and a line never makes more corners counted back from
// it than it has bytes.
bool block_result::reserve(std::size_t bytes) {
    const auto n = static_cast<std::int64_t>(bytes);
    return vertices.reserve(n / 8 + 1) && faces.reserve(n / 2) && relative_corners.reserve(n);
}

void parse_block(const char* begin, const char* end, block_result& r) {
    r.vertices.clear();
    r.faces.clear();
    r.relative_corners.clear();
    r.max_index = r.min_relative = 0;
    r.needs_context = false;
    block_words w(begin, end);
    block_sink s{r};
    r.lines = parse_lines(w, s);
}

}  // namespace obj
