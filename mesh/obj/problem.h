#pragma once

// What can be wrong with a file, and every message the loader writes: each
// is written once, in problem.cpp.

#include <string>

#include "mesh/obj/number.h"
#include "mesh/obj/word_text.h"

namespace obj {

// What is wrong with a line.
struct problem {
    enum class kind : unsigned char {
        vertex_needs_three_numbers,
        not_a_number,               // word
        not_finite,                 // word
        too_large_to_scale,         // word
        not_a_corner,               // word
        face_needs_three_corners,
        index_zero,                 // word: the index as written
        index_before_first_vertex,  // word, count: the vertices above the line
        index_beyond_file,          // word, count: the vertices of the file
        nul_byte,
        utf16,
        too_many_vertices,
        too_many_faces,
    };
    kind what = kind::vertex_needs_three_numbers;
    shown_word word;
    long long count = 0;

    problem() = default;
    explicit problem(kind k) : what(k) {}
    // Words are taken by value here and in the sinks: a reference would
    // keep the parse's words in memory on its hot path.
    problem(kind k, word_text w, long long n = 0) : what(k), word(w), count(n) {}
    problem(kind k, const shown_word& w, long long n) : what(k), word(w), count(n) {}
};

// What is wrong with a word that did not read as a number.
inline problem number_problem(number_status status, word_text word) {
    return problem(status == number_status::not_finite ? problem::kind::not_finite : problem::kind::not_a_number, word);
}

// What is wrong, without a name or line: the PLY and STL readers, whose
// text numbers follow these rules, say it in their own messages too.
std::string describe(const problem& p);

// A word as messages quote it: 'word'.
std::string quoted(word_text w);

// "NAME:LINE: what is wrong".
std::string line_message(const char* name, long long line, const problem& p);

// "NAME: out of memory after N faces".
std::string out_of_memory_message(const char* name, long long faces);

// "cannot read NAME: why", `error` being an errno value.
std::string read_error_message(const char* name, int error);

}  // namespace obj
