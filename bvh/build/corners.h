#pragma once

// Reading a triangle's corners from the mesh, as the passes over millions
// of them do.

#include <emmintrin.h>

#include <cstdint>

#include "bvh/build/box.h"
#include "bvh/packet_fill.h"
#include "bvh/reach.h"
#include "mesh/mesh.h"
#include "ray_triangle/setup.h"

namespace bvh_build {

// A mesh's faces name its vertices in no particular order, and a pass over
// millions of them otherwise waits on most of its reads: a pass starts the
// corners of a triangle some way ahead on their way from memory.
inline void prefetch_corners(const mesh& m, std::int32_t face) {
    for (int j = 0; j < 3; ++j) _mm_prefetch(reinterpret_cast<const char*>(&m.vertices[m.faces[face].vertex[j]]), _MM_HINT_T0);
}

// Triangle k's corners, read once for all that is made of them.
struct corners {
    vector3 v[3];

    corners(const mesh& m, int k) : v{mesh_corner(m, k, 0), mesh_corner(m, k, 1), mesh_corner(m, k, 2)} {}

    vector3 face_normal() const { return cross(v[1] - v[0], v[2] - v[0]); }

    // A triangle with a zero normal can never be hit.
    bool can_be_hit() const {
        const vector3 n = face_normal();
        return !(n.x == 0.0f && n.y == 0.0f && n.z == 0.0f);
    }

    // The doubled centre of the corners' box: what picks the grid cell.
    __m128 centre() const {
        const __m128 a = _mm_setr_ps(v[0].x, v[0].y, v[0].z, 0.0f);
        const __m128 b = _mm_setr_ps(v[1].x, v[1].y, v[1].z, 0.0f);
        const __m128 c = _mm_setr_ps(v[2].x, v[2].y, v[2].z, 0.0f);
        return _mm_add_ps(_mm_min_ps(_mm_min_ps(a, b), c), _mm_max_ps(_mm_max_ps(a, b), c));
    }

    // Triangle k's tagged reach box, into `box`; false for a triangle that
    // can never be hit.
    bool tagged_reach_box(int k, vbox& box) const {
        const triangle_shape shape = shape_of(v, face_normal());
        if (shape.kind == triangle_kind::degenerate) return false;
        box = tagged_box(reach_box(v, shape), triangle_tag::of(k, shape.kind == triangle_kind::sliver));
        return true;
    }
};

}  // namespace bvh_build
