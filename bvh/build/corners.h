#pragma once

// Reading a triangle's corners from the mesh, as the passes over millions
// of them do.

#include <xmmintrin.h>

#include <cstdint>

#include "mesh/mesh.h"

namespace bvh_build {

inline vector3 corner_of(const mesh& m, std::int32_t face, int j) { return m.vertices[m.faces[face].vertex[j]]; }

// A mesh's faces name its vertices in no particular order, and a pass over
// millions of them otherwise waits on most of its reads: a pass starts the
// corners of a triangle some way ahead on their way from memory.
inline void prefetch_corners(const mesh& m, std::int32_t face) {
    for (int j = 0; j < 3; ++j) _mm_prefetch(reinterpret_cast<const char*>(&m.vertices[m.faces[face].vertex[j]]), _MM_HINT_T0);
}

}  // namespace bvh_build
