// Every message of the loader (problem.h).

#include "mesh/obj/problem.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "mesh/mesh.h"

namespace obj {

namespace {

// The scale as a person writes it: "5000", not "5000.000000".
std::string scale_text() {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(mesh_scale));
    return text;
}

}  // namespace

std::string quoted(word_text w) { return "'" + shown_word(w).text() + "'"; }

std::string describe(const problem& p) {
    const std::string word = p.word.text();
    const std::string quoted = "'" + word + "'";
    const std::string index = "vertex index " + word + " names no vertex";
    switch (p.what) {
    case problem::kind::vertex_needs_three_numbers: return "vertex line needs three numbers";
    case problem::kind::not_a_number: return quoted + " is not a number";
    case problem::kind::not_finite: return quoted + " is not a finite number";
    case problem::kind::too_large_to_scale: return quoted + " is too large to scale by " + scale_text();
    case problem::kind::not_a_corner: return quoted + " is not a face corner (i, i/t, i//n or i/t/n, decimal)";
    case problem::kind::face_needs_three_corners: return "face needs at least three corners";
    case problem::kind::index_zero: return index + " (indices start at 1)";
    case problem::kind::index_before_first_vertex: return index + " (" + std::to_string(p.count) + " above this line)";
    case problem::kind::index_beyond_file: return index + " (the file has " + std::to_string(p.count) + ")";
    case problem::kind::nul_byte: return "NUL byte; this is not a text file";
    case problem::kind::utf16: return "UTF-16 text; save it as UTF-8 to load it";
    case problem::kind::too_many_vertices: return "more than " + std::to_string(INT_MAX) + " vertices";
    case problem::kind::too_many_faces: return "more than " + std::to_string(INT_MAX) + " faces";
    }
    return {};
}

std::string line_message(const char* name, long long line, const problem& p) {
    return std::string(name) + ":" + std::to_string(line) + ": " + describe(p);
}

std::string out_of_memory_message(const char* name, long long faces) {
    return std::string(name) + ": out of memory after " + std::to_string(faces) + " faces";
}

std::string read_error_message(const char* name, int error) {
    return std::string("cannot read ") + name + ": " + std::strerror(error);
}

}  // namespace obj
