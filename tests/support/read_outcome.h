#pragma once

// What a PLY or STL reader makes of a file held in memory, read one way,
// with the mesh copied out (obj_outcome), so that readings of one file in
// different ways compare bit for bit. The fuzz targets use it too, so it
// needs nothing of GoogleTest.

#include <string>
#include <vector>

#include "mesh/input/memory_reading.h"
#include "tests/support/obj_outcome.h"

using memory_parser = bool (*)(const char*, std::size_t, const char*, mesh*, std::string*, const memory_reading&);

inline obj_outcome read_outcome(memory_parser parse, const std::string& data, const char* name,
                                const memory_reading& how = {}) {
    obj_outcome o;
    mesh m;
    o.ok = parse(data.data(), data.size(), name, &m, &o.error, how);
    o.vertex_count = m.vertex_count;
    o.face_count = m.face_count;
    if (o.ok) {
        o.vertices.assign(m.vertices, m.vertices + m.vertex_count);
        o.faces.assign(m.faces, m.faces + m.face_count);
        release_mesh(&m);
    } else {
        o.left_alone = m.vertex_count == -1 && m.face_count == -1 && !m.vertices && !m.faces;
    }
    return o;
}

// Ways of reading one file besides in place as the program does: in place
// with runs cut small on several threads, and in pieces through a small
// buffer (records then straddle reads), the size known or not. `cut` (1 up)
// varies the pieces. Where the size is unknown a file shorter than its
// header claims is found short only as it is read, so just the outcome and
// the mesh must agree, not the message.
inline std::vector<memory_reading> other_ways(std::size_t cut) {
    memory_reading small_runs;
    small_runs.runs = run_tuning{3, 2, 1};
    memory_reading pieces = small_runs;
    pieces.piece = cut;
    pieces.block = 5 + cut % 11;
    memory_reading default_runs;
    default_runs.piece = 1 + cut * 7;
    default_runs.block = 64;
    memory_reading unknown = pieces;
    unknown.size_known = false;
    unknown.runs = run_tuning{2, 3, 2};
    memory_reading unknown_big = default_runs;
    unknown_big.size_known = false;
    return {small_runs, pieces, default_runs, unknown, unknown_big};
}
