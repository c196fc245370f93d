#pragma once

// What the readers of PLY data share: the header, the arrays being filled
// and the first error.

#include <string>

#include "mesh/input/mesh_arrays.h"
#include "mesh/input/record_runs.h"
#include "mesh/input/text_lines.h"
#include "mesh/ply/ply_header.h"

namespace ply {

struct reading {
    const char* name;
    const header& h;
    mesh_arrays& arrays;
    long long vertex_limit;  // indices below this name a vertex
    std::string error;

    // The message of a vertex index that names no vertex.
    std::string index_message(long long index) const {
        return "vertex index " + std::to_string(index) + " names no vertex (" +
               (index < 0 ? std::string("indices start at 0") : "the file has " + std::to_string(vertex_limit)) + ")";
    }
    std::string ended_message(const element& e, long long done) const {
        return "the file ends inside element '" + e.name + "', after " + std::to_string(done) + " of its " +
               std::to_string(e.count) + " records";
    }
};

inline std::string triangle_limit_message() { return "more than " + std::to_string(mesh_count_limit) + " triangles"; }

bool read_binary(block_reader& in, reading& r, const run_tuning& runs);
bool read_ascii(text_lines& text, reading& r);

}  // namespace ply
