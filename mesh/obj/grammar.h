#pragma once

// The OBJ grammar, the one way lines are understood, whichever words they
// come from (words.h) and whoever takes what they mean. Only "v" and "f" lines mean anything; every other line is stepped
// over. A vertex line holds three numbers (anything after the third is
// ignored); a face line lists three or more corners up to its end or a
// '#', and becomes the fan (1, k, k+1).
//
// A sink takes the vertices and faces and judges the indices:
//   slot                              how a face names a vertex
//   counting()                        a bad line was met: lines are only classified now
//   vertex_line()                     a v line went by, good or bad (parse_lines only)
//   vertex(v), face(a, b, c)          take one in; false: stop (out of memory)
//   resolve(index, text, line, &slot, &why)   false: the line is bad, for `why`
//   bad_line(line, why)               false: stop (parse_lines only)

#include <cmath>

#include "math/vector3.h"
#include "mesh/mesh.h"
#include "mesh/obj/problem.h"
#include "mesh/obj/words.h"

namespace obj {

enum class line_kind { other, vertex, face };
enum class verdict { good, bad, stop };

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

template <typename text, typename sink>
verdict vertex_line(text& w, sink& s, problem* why) {
    float xyz[3];
    for (float& value : xyz) {
        if (w.line_ends()) {
            *why = problem(problem::kind::vertex_needs_three_numbers);
            return verdict::bad;
        }
        word_text shown;
        const number_status status = w.number(&value, &shown);
        if (status != number_status::ok) {
            *why = number_problem(status, shown);
            return verdict::bad;
        }
        value *= mesh_scale;
        if (!std::isfinite(value)) {
            *why = problem(problem::kind::too_large_to_scale, shown);
            return verdict::bad;
        }
    }
    return s.vertex(vector3{xyz[0], xyz[1], xyz[2]}) ? verdict::good : verdict::stop;
}

template <typename text, typename sink>
verdict face_line(text& w, sink& s, long long line, problem* why) {
    fan<sink> corners;
    while (!w.line_ends() && !w.comment_starts()) {
        const corner_word c = w.corner();
        if (!c.ok) {
            *why = problem(problem::kind::not_a_corner, c.word);
            return verdict::bad;
        }
        typename sink::slot slot{};
        if (!s.resolve(c.index, c.index_text, line, &slot, why)) return verdict::bad;
        if (!corners.add(s, slot)) return verdict::stop;
    }
    if (corners.corners < 3) {
        *why = problem(problem::kind::face_needs_three_corners);
        return verdict::bad;
    }
    return verdict::good;
}

// One line, from its start up to its line end (not past it): what kind it
// is and, unless the sink is only counting, whether it is good.
template <typename text, typename sink>
line_kind parse_line(text& w, sink& s, long long line, verdict* v, problem* why) {
    *v = verdict::good;
    switch (w.first_word_letter()) {
    case 'v':
        if (!s.counting()) *v = vertex_line(w, s, why);
        return line_kind::vertex;
    case 'f':
        if (!s.counting()) *v = face_line(w, s, line, why);
        return line_kind::face;
    default: return line_kind::other;
    }
}

// Every line of the text, numbered from 1. Returns how many there were, or
// -1 if the sink stopped.
template <typename text, typename sink>
long long parse_lines(text& w, sink& s) {
    long long line = 0;
    problem why;
    while (!w.at_end()) {
        ++line;
        verdict v;
        if (parse_line(w, s, line, &v, &why) == line_kind::vertex) s.vertex_line();
        if (v == verdict::stop || (v == verdict::bad && !s.bad_line(line, why))) return -1;
        w.next_line();
    }
    return line;
}

}  // namespace obj
