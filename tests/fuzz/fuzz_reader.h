#pragma once

// What the PLY and STL fuzz targets check of every input: read in place
// and every other way (read_outcome.h), it either loads into a mesh whose
// every corner names one of its vertices or is refused with a message
// naming the file, leaving the mesh alone; and every way agrees (where the
// size is unknown, on the outcome and the mesh).

#include <cstdint>
#include <cstdlib>
#include <string>

#include "tests/support/read_outcome.h"

inline void check_outcome(const obj_outcome& o, const std::string& name) {
    if (!o.ok) {
        if (o.error.compare(0, name.size() + 1, name + ":") != 0 || !o.left_alone) std::abort();
        return;
    }
    if (o.vertex_count < 0 || o.face_count < 0) std::abort();
    for (const face_corners& f : o.faces)
        for (std::int32_t v : f.vertex)
            if (v < 0 || v >= o.vertex_count) std::abort();
}

inline void fuzz_reader(memory_parser parse, const char* name, const std::uint8_t* data, std::size_t size) {
    const std::string file(reinterpret_cast<const char*>(data), size);
    const obj_outcome in_place = read_outcome(parse, file, name);
    check_outcome(in_place, name);
    // The last byte picks how the pieces are cut.
    for (const memory_reading& how : other_ways(1 + (size > 0 ? data[size - 1] % 64 : 0))) {
        const obj_outcome o = read_outcome(parse, file, name, how);
        check_outcome(o, name);
        const bool agree = how.size_known ? o == in_place : o.ok == in_place.ok && (!o.ok || o == in_place);
        if (!agree) std::abort();
    }
}
