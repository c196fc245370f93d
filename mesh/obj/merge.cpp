// Taking the text into the mesh in file order (merge.h).

#include "mesh/obj/merge.h"

#include <cassert>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "mesh/obj/corner.h"
#include "mesh/obj/grammar.h"

namespace obj {

namespace {

// An index as plain decimal digits, into room for 24 bytes; returns their count.
std::size_t write_plain(long long index, char* to) {
    return static_cast<std::size_t>(std::snprintf(to, 24, "%lld", index));
}

}  // namespace

// The sink of what is taken in at its turn, knowing the whole file above
// the text it is given.
struct merger::exact_sink {
    using slot = std::int32_t;
    merger& m;
    long long lines_before;  // of the file above the text

    bool counting() const { return m.counting_; }
    void vertex_line() { ++m.vertex_lines_; }
    bool vertex(const vector3& v) {
        if (m.vertices_.push(v)) return true;
        m.out_of_memory();
        return false;
    }
    bool resolve(long long index, word_text text, long long line, slot* out, problem* why) {
        const long long known = m.vertices_.size();
        if (index == 0) {
            *why = problem(problem::kind::index_zero, text);
            return false;
        }
        if (index < 0) {
            if (known + index < 0) {
                *why = problem(problem::kind::index_before_first_vertex, text, known);
                return false;
            }
            *out = static_cast<slot>(known + index);
            return true;
        }
        if (index > known) m.note_candidate(lines_before + line, index, text);
        *out = clamp_slot(index - 1);
        return true;
    }
    bool face(slot a, slot b, slot c) {
        if (m.faces_.push(face_corners{{a, b, c}})) return true;
        m.out_of_memory();
        return false;
    }
    bool bad_line(long long line, const problem& why) { return m.bad_line(lines_before + line, why); }
};

void merger::take_lines(const char* begin, const char* end, const block_result& r) {
    const long long base = vertices_.size();
    const bool settled = !counting_ && !r.needs_context && r.max_index <= base + r.vertices.size() &&
                         base + r.min_relative >= 0;
    if (!settled) {
        // Parsed again, knowing the file above.
        block_words w(begin, end);
        exact_sink s{*this, lines_};
        const long long lines = parse_lines(w, s);
        if (lines >= 0) lines_ += lines;
        return;
    }
    const long long first_face = faces_.size();
    if (!vertices_.append(r.vertices.data(), static_cast<std::size_t>(r.vertices.size())) ||
        !faces_.append(r.faces.data(), static_cast<std::size_t>(r.faces.size()))) {
        out_of_memory();
        return;
    }
    // Corners counted from the block's first vertex get its place in the file.
    face_corners* const faces = faces_.data() + first_face;
    for (std::int64_t k = 0; k < r.relative_corners.size(); ++k) {
        const relative_corner& c = r.relative_corners.data()[k];
        assert(c.face < r.faces.size() && c.corner >= 0 && c.corner < 3);
        std::int32_t& slot = faces[c.face].vertex[c.corner];
        slot = static_cast<std::int32_t>(base + slot);
    }
    vertex_lines_ += r.vertices.size();
    lines_ += r.lines;
}

void merger::take_long_line(line_words& w, const text_reader::line_pieces& pieces) {
    const long long line = lines_ + 1;
    const std::size_t candidates = candidates_.size();
    const std::size_t texts = texts_.size();
    exact_sink s{*this, lines_};
    verdict v;
    problem why;
    const line_kind kind = parse_line(w, s, 1, &v, &why);
    if (v == verdict::stop) return;
    w.next_line();
    switch (pieces.end()) {
    case text_end::nul_byte:
        // The line is binary, whatever else it held: what it added goes,
        // and end_unit reports its NUL byte.
        candidates_.resize(candidates);
        texts_.resize(texts);
        break;
    case text_end::read_error:  // cut short: end_unit reports the failed read
        break;
    case text_end::more:
    case text_end::end_of_input:
        ++lines_;
        if (kind == line_kind::vertex) ++vertex_lines_;
        if (v == verdict::bad) bad_line(line, why);
        break;
    }
}

void merger::end_unit(text_end end, int read_error) {
    if (end == text_end::nul_byte) bad_line(lines_ + 1, problem(problem::kind::nul_byte));
    after_unit();
    if (end == text_end::read_error) finish(read_error_message(name_, read_error));
    // Until a line is bad every v line has made a vertex, unless the
    // outcome is known already; the first bad line's message is kept.
    assert(finished_ || counting_ || vertex_lines_ == vertices_.size());
    assert(counting_ != first_bad_.empty());
}

void merger::refuse(const problem& why) { finish(line_message(name_, 1, why)); }

void merger::out_of_memory() {
    out_of_memory_ = true;
    finished_ = true;
}

// Once a line is bad only v lines are counted; it is the answer as soon as
// no index above it is still waiting for its vertex.
bool merger::bad_line(long long line, const problem& why) {
    if (!counting_) {
        counting_ = true;
        first_bad_ = line_message(name_, line, why);
    }
    if (!candidates_.empty()) return true;
    finish(first_bad_);
    return false;
}

void merger::note_candidate(long long line, long long index, word_text text) {
    if (!candidates_.empty() && index <= candidates_.back().index) return;
    assert(!counting_ && (candidates_.empty() || line >= candidates_.back().line));
    // Messages show the index as written ("+09"); most are written plainly.
    char plain[24];
    const std::size_t length = write_plain(index, plain);
    long long shown = -1;
    if (text.length != length || std::memcmp(text.begin, plain, length) != 0) {
        shown = static_cast<long long>(texts_.size());
        texts_.emplace_back(text);
    }
    candidates_.push_back({line, index, shown});
}

void merger::finish(const std::string& message) {
    if (finished_) return;
    error_ = message;
    finished_ = true;
}

// Candidates that now name a vertex are settled; counts beyond what a mesh
// holds refuse the file as a whole, from its first line.
void merger::after_unit() {
    while (!candidates_.empty() && candidates_.front().index <= vertex_lines_) candidates_.pop_front();
    if (vertex_lines_ > INT_MAX) refuse(problem(problem::kind::too_many_vertices));
    else if (faces_.size() > INT_MAX) refuse(problem(problem::kind::too_many_faces));
    if (counting_ && candidates_.empty()) finish(first_bad_);
}

// What stopped the load, if anything did: running out of memory, then a
// verdict reached on the way, then an index naming no vertex of the whole
// file, then a bad line.
bool merger::hand_over(mesh* m, std::string* error) {
    std::string message;
    if (out_of_memory_) {
        message = out_of_memory_message(name_, faces_.size());
    } else if (finished_) {
        message = error_;
    } else if (!candidates_.empty()) {
        const candidate& c = candidates_.front();
        char plain[24];
        const shown_word text = c.text >= 0 ? texts_[static_cast<std::size_t>(c.text)]
                                            : shown_word(whole_word(plain, plain + write_plain(c.index, plain)));
        message = line_message(name_, c.line, problem(problem::kind::index_beyond_file, text, vertex_lines_));
    } else if (counting_) {
        message = first_bad_;
    }
    if (message.empty()) {
        // after_unit refused anything larger.
        assert(vertices_.size() <= INT_MAX && faces_.size() <= INT_MAX);
        const int vertex_count = static_cast<int>(vertices_.size());
        const int face_count = static_cast<int>(faces_.size());
        vector3* const vertices = vertices_.release();
        face_corners* const faces = faces_.release();
        if (vertices && faces) {
            m->vertex_count = vertex_count;
            m->face_count = face_count;
            m->vertices = vertices;
            m->faces = faces;
            return true;
        }
        util::unmap_array(vertices, sizeof(vector3) * static_cast<std::size_t>(vertex_count));
        util::unmap_array(faces, sizeof(face_corners) * static_cast<std::size_t>(face_count));
        message = out_of_memory_message(name_, face_count);
    }
    if (error) *error = message;
    return false;
}

}  // namespace obj
