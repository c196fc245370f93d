#pragma once

// Parsing whole lines: [p, end) holds complete lines (the last one may lack
// its line end). Only "v" and "f" lines mean anything; every other line is
// stepped over. The same code serves a block parsed on its own and the file
// taken in at its turn, through the sink it is given, which takes the
// vertices and faces and judges the indices:
//   slot                        how a face names a vertex
//   counting()                  a bad line was met: only v lines count now
//   halted()                    while counting, whether to stop
//   vertex_line_seen()          a v line, good or bad
//   vertex(v), face(a, b, c)    take one in
//   resolve(index, text, line, &slot)
//   fail(line, message)         a bad line; message() makes its text
// vertex, face, resolve and fail return false where the parse must stop.

#include <cmath>
#include <cstdint>

#include "math/vector3.h"
#include "mesh/mesh.h"
#include "mesh/obj/obj_corner.h"
#include "mesh/obj/obj_number.h"
#include "mesh/obj/obj_words.h"

namespace obj {

// A polygon becomes the fan (1, k, k+1), corners in the order the line names
// them: that order decides which side of the triangle faces out.
template <typename sink>
struct fan {
    typename sink::slot first{}, previous{};
    long long corners = 0;

    bool add(sink& s, typename sink::slot slot) {
        if (corners == 0) first = slot;
        else if (corners >= 2 && !s.face(first, previous, slot)) return false;
        previous = slot;
        ++corners;
        return true;
    }
};

enum class line_kind { other, vertex, face };

inline line_kind classify(const char* p, const char* end, const char** rest) {
    p = skip_blanks(p, end);
    *rest = p;
    if (p < end && (p + 1 == end || ends_word(p[1]))) {
        *rest = p + 1;
        if (*p == 'v') return line_kind::vertex;
        if (*p == 'f') return line_kind::face;
    }
    return line_kind::other;
}

template <typename sink>
bool vertex_line(const char* p, const char* end, long long line, sink& s, const char** stop) {
    float xyz[3];
    for (float& value : xyz) {
        p = skip_blanks(p, end);
        *stop = p;
        if (p == end || is_line_end(*p)) return s.fail(line, [] { return "vertex line needs three numbers"; });
        const char* e = nullptr;
        const number_status status = read_number(p, end, &value, &e);
        *stop = e;
        if (status != number_status::ok) return s.fail(line, [&] { return number_message(status, whole_word(p, e)); });
        value *= mesh_scale;
        if (!std::isfinite(value)) return s.fail(line, [&] { return too_large_message(whole_word(p, e)); });
        p = e;
    }
    return s.vertex(vector3{xyz[0], xyz[1], xyz[2]});
}

template <typename sink>
bool face_line(const char* p, const char* end, long long line, sink& s, const char** stop) {
    fan<sink> corners;
    for (;;) {
        p = skip_blanks(p, end);
        *stop = p;
        if (p == end || is_line_end(*p) || *p == '#') break;
        // Most corners are a few plain digits.
        const char* e = p;
        std::uint64_t digits = 0;
        while (e < end && static_cast<unsigned>(*e - '0') < 10) digits = digits * 10 + static_cast<unsigned>(*e++ - '0');
        long long index = static_cast<long long>(digits);
        const char* index_end = e;
        if (e == p || e - p > 12 || (e < end && !ends_word(*e))) {
            e = word_end(p, end);
            if (!parse_corner(p, e, &index, &index_end)) {
                *stop = e;
                return s.fail(line, [&] { return corner_message(whole_word(p, e)); });
            }
        }
        *stop = e;
        typename sink::slot slot{};
        if (!s.resolve(index, whole_word(p, index_end), line, &slot) || !corners.add(s, slot)) return false;
        p = e;
    }
    if (corners.corners < 3) return s.fail(line, [] { return "face needs at least three corners"; });
    return true;
}

// Parses the lines of [p, end), numbering them from 1; returns how many
// lines it went through, or -1 if the sink stopped it.
template <typename sink>
long long parse_lines(const char* p, const char* end, sink& s) {
    long long line = 0;
    while (p < end) {
        ++line;
        const char* rest = nullptr;
        const char* stop = p;
        bool ok = true;
        switch (classify(p, end, &rest)) {
        case line_kind::vertex:
            s.vertex_line_seen();
            if (!s.counting()) ok = vertex_line(rest, end, line, s, &stop);
            break;
        case line_kind::face:
            if (!s.counting()) ok = face_line(rest, end, line, s, &stop);
            break;
        case line_kind::other: break;
        }
        if (!ok && (!s.counting() || s.halted())) return -1;
        p = next_line(line_end(stop, end), end);
    }
    return line;
}

}  // namespace obj
