// Taking blocks into the mesh in file order, and which error wins: the
// first bad line in the file, though an index naming a vertex not read yet
// above it can only be judged once the whole file has been counted.

#include <cassert>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include "mesh/obj/obj_lines.h"
#include "mesh/obj/obj_loader.h"

namespace obj {

bool loader::exact_sink::resolve(long long index, const word_text& text, long long line, slot* out) {
    const long long known = l.vertices_.size();
    if (index == 0) return fail(line, [&] { return "vertex index " + text.shown() + " names no vertex (indices start at 1)"; });
    if (index < 0) {
        if (known + index < 0)
            return fail(line, [&] {
                return "vertex index " + text.shown() + " names no vertex (" + std::to_string(known) + " above this line)";
            });
        *out = static_cast<slot>(known + index);
        return true;
    }
    if (index > known && (l.candidates_.empty() || index > l.candidates_.back().index)) {
        std::string shown = text.shown();
        long long t = -1;
        if (shown != std::to_string(index)) {
            t = static_cast<long long>(l.texts_.size());
            l.texts_.push_back(std::move(shown));
        }
        l.candidates_.push_back({l.lines_ + line, index, t});
    }
    *out = clamp_slot(index - 1);
    return true;
}

bool loader::fail_at(long long line, const std::string& what) {
    if (!counting_) {
        counting_ = true;
        first_bad_ = std::string(name_) + ":" + std::to_string(line) + ": " + what;
    }
    if (candidates_.empty()) finish_error(first_bad_);
    return false;
}

bool loader::out_of_memory() {
    oom_ = true;
    finished_ = true;
    stop_ = true;
    return false;
}

void loader::finish_error(const std::string& message) {
    if (finished_) return;
    error_ = message;
    finished_ = true;
    stop_ = true;
}

std::string loader::candidate_message(const candidate& c) const {
    const std::string text = c.text < 0 ? std::to_string(c.index) : texts_[static_cast<std::size_t>(c.text)];
    return std::string(name_) + ":" + std::to_string(c.line) + ": vertex index " + text +
           " names no vertex (the file has " + std::to_string(vertex_lines_) + ")";
}

// Counts beyond what a mesh holds refuse the file as a whole, from its
// first line.
void loader::check_counts() {
    if (vertex_lines_ > INT_MAX) finish_error(std::string(name_) + ":1: more than " + std::to_string(INT_MAX) + " vertices");
    else if (faces_.size() > INT_MAX) finish_error(std::string(name_) + ":1: more than " + std::to_string(INT_MAX) + " faces");
}

// After each unit: candidates that now name a vertex are settled; once a
// bad line has been found, it is the answer as soon as no earlier line can
// still turn out bad.
void loader::after_unit() {
    while (!candidates_.empty() && candidates_.front().index <= vertex_lines_) candidates_.pop_front();
    check_counts();
    if (counting_ && candidates_.empty()) finish_error(first_bad_);
}

// Once a line is bad the exact sink counts, and only counts, the v lines.
void loader::count_vertex_lines(const char* p, const char* end) {
    assert(counting_);
    exact_sink s{*this};
    parse_lines(p, end, s);
}

// A NUL byte means binary data: nothing after it is read.
void loader::take_nul(long long line) {
    if (counting_) finish_error(first_bad_);
    finish_error(std::string(name_) + ":" + std::to_string(line) + ": NUL byte; this is not a text file");
}

void loader::take_block(unit& u) {
    const char* const begin = u.text;
    const char* const end = begin + u.parse_end;
    block_result& r = u.result;
    if (counting_) {
        count_vertex_lines(begin, end);
    } else {
        const long long base = vertices_.size();
        const bool clean = !r.needs_context && r.max_index <= base + static_cast<long long>(r.vertices.size()) &&
                           base + r.min_relative >= 0;
        if (clean) {
            const long long first_face = faces_.size();
            if (!vertices_.append(r.vertices.data(), static_cast<std::size_t>(r.vertices.size())) ||
                !faces_.append(r.faces.data(), static_cast<std::size_t>(r.faces.size()))) {
                out_of_memory();
                return;
            }
            face_corners* const faces = faces_.data() + first_face;
            for (long long k = 0; k < r.relative_faces.size(); ++k) {
                const std::uint64_t f = r.relative_faces.data()[k];
                for (int j = 0; j < 3; ++j)
                    if (f & (1u << j)) faces[f / 8].vertex[j] = static_cast<std::int32_t>(faces[f / 8].vertex[j] + base);
            }
            vertex_lines_ += r.vertices.size();
            lines_ += r.lines;
        } else {
            exact_sink s{*this};
            const long long lines = parse_lines(begin, end, s);
            if (finished_) return;
            lines_ += lines;
        }
    }
    if (u.nul && !finished_) take_nul(lines_ + 1);
    after_unit();
}

// What stopped the load, if anything did: running out of memory, then a
// verdict reached while reading, then a failed read, then an index naming
// no vertex of the whole file, then a bad line.
std::string loader::failure() const {
    if (oom_) return std::string(name_) + ": out of memory after " + std::to_string(faces_.size()) + " faces";
    if (finished_) return error_;
    if (in_.error() != 0) return std::string("cannot read ") + name_ + ": " + std::strerror(in_.error());
    if (!candidates_.empty()) return candidate_message(candidates_.front());
    if (counting_) return first_bad_;
    return {};
}

}  // namespace obj
