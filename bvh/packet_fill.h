#pragma once

#include <emmintrin.h>

#include <cfloat>
#include <cmath>
#include <cstdint>

#include "math/vector3.h"
#include "mesh/mesh.h"
#include "ray_triangle/packet.h"
#include "ray_triangle/setup.h"

// A packet's lanes filled from the mesh with the fields prepare_triangle
// gives a regular triangle, computed the same way (the tests compare them
// field by field): the builder fills the leaves of a packet tree with it,
// and the traversal of a compact tree fills a packet on the spot for the
// triangles a leaf names. Both therefore test a triangle with the very same
// numbers.

// The corner of mesh triangle `face`.
inline vector3 mesh_corner(const mesh& m, std::int32_t face, int j) { return m.vertices[m.faces[face].vertex[j]]; }

namespace packet_fill {

inline __m128 dot3(__m128 ax, __m128 ay, __m128 az, __m128 bx, __m128 by, __m128 bz) {
    return _mm_add_ps(_mm_add_ps(_mm_mul_ps(ax, bx), _mm_mul_ps(ay, by)), _mm_mul_ps(az, bz));
}

// The faces' indices, corner 0 and edges into `p` (empty lanes, -1, get
// zeros); returns the lanes whose corners all lie within
// max_regular_coordinate in magnitude.
inline int gather(const mesh& m, const std::int32_t faces[4], triangle_packet& p) {
    float v[3][3][4] = {};  // corner 0, edge 1, edge 2; axis; lane
    int in_range = 0;
    for (int lane = 0; lane < 4; ++lane) {
        p.index[lane] = faces[lane];
        if (faces[lane] < 0) continue;
        const vector3 c[3] = {mesh_corner(m, faces[lane], 0), mesh_corner(m, faces[lane], 1), mesh_corner(m, faces[lane], 2)};
        const vector3 e1 = c[1] - c[0];
        const vector3 e2 = c[2] - c[0];
        const vector3* fields[3] = {&c[0], &e1, &e2};
        for (int f = 0; f < 3; ++f) {
            v[f][0][lane] = fields[f]->x;
            v[f][1][lane] = fields[f]->y;
            v[f][2][lane] = fields[f]->z;
        }
        bool small = true;
        for (const vector3& corner : c)
            small = small && std::fabs(corner.x) <= max_regular_coordinate && std::fabs(corner.y) <= max_regular_coordinate &&
                    std::fabs(corner.z) <= max_regular_coordinate;
        in_range |= small << lane;
    }
    float (*rows[3])[4] = {p.vertex, p.edge1, p.edge2};
    for (int f = 0; f < 3; ++f)
        for (int a = 0; a < 3; ++a) _mm_store_ps(rows[f][a], _mm_loadu_ps(v[f][a]));
    return in_range;
}

// The lanes' unnormalised normals, cross(e1, e2), component by component
// as math/vector3.h has it.
inline void face_normals(const triangle_packet& p, __m128& nx, __m128& ny, __m128& nz) {
    const __m128 e1x = _mm_load_ps(p.edge1[0]), e1y = _mm_load_ps(p.edge1[1]), e1z = _mm_load_ps(p.edge1[2]);
    const __m128 e2x = _mm_load_ps(p.edge2[0]), e2y = _mm_load_ps(p.edge2[1]), e2z = _mm_load_ps(p.edge2[2]);
    nx = _mm_sub_ps(_mm_mul_ps(e1y, e2z), _mm_mul_ps(e1z, e2y));
    ny = _mm_sub_ps(_mm_mul_ps(e1z, e2x), _mm_mul_ps(e1x, e2z));
    nz = _mm_sub_ps(_mm_mul_ps(e1x, e2y), _mm_mul_ps(e1y, e2x));
}

// The unit normals and the offsets, from the edges. The four lanes'
// normals are computed at once where every squared length is a normal
// float, as normalize computes them (a float's square root rounded once is
// the double one rounded to float); otherwise lane by lane.
inline void finish(triangle_packet& p) {
    __m128 nx, ny, nz;
    face_normals(p, nx, ny, nz);
    const __m128 squared = dot3(nx, ny, nz, nx, ny, nz);
    const __m128 in_range = _mm_and_ps(_mm_cmpge_ps(squared, _mm_set1_ps(FLT_MIN)), _mm_cmple_ps(squared, _mm_set1_ps(FLT_MAX)));
    int simple = _mm_movemask_ps(in_range);
    for (int lane = 0; lane < 4; ++lane) simple |= (p.index[lane] < 0) << lane;  // empty lanes: zeros below
    if (simple == 0xf) {
        const __m128 length = _mm_sqrt_ps(squared);
        const __m128 inverse = _mm_and_ps(_mm_div_ps(_mm_set1_ps(1.0f), length), in_range);
        _mm_store_ps(p.normal[0], _mm_mul_ps(nx, inverse));
        _mm_store_ps(p.normal[1], _mm_mul_ps(ny, inverse));
        _mm_store_ps(p.normal[2], _mm_mul_ps(nz, inverse));
    } else {
        alignas(16) float x[4], y[4], z[4];
        _mm_store_ps(x, nx);
        _mm_store_ps(y, ny);
        _mm_store_ps(z, nz);
        for (int lane = 0; lane < 4; ++lane) {
            const vector3 n = normalize({x[lane], y[lane], z[lane]});
            p.normal[0][lane] = n.x;
            p.normal[1][lane] = n.y;
            p.normal[2][lane] = n.z;
        }
    }
    // offset = dot(normal, corner 0)
    _mm_store_ps(p.offset, dot3(_mm_load_ps(p.normal[0]), _mm_load_ps(p.normal[1]), _mm_load_ps(p.normal[2]),
                                _mm_load_ps(p.vertex[0]), _mm_load_ps(p.vertex[1]), _mm_load_ps(p.vertex[2])));
}

// shape_of's rule on each lane (`in_range` from gather): the lanes that
// hold slivers, bit k for lane k. A lane is regular when its corners are in
// range, its face normal and edge dot products are finite, its squared
// edges at least min_regular_dot, and the condition number of its edge
// frame, d11·d22 / (d11·d22 - d12²) from the float dot products in double,
// at most max_regular_condition; a sliver when not, unless its face normal
// is zero (never hit, and never in a compact leaf).
inline int slivers(const triangle_packet& p, int in_range) {
    const __m128 e1x = _mm_load_ps(p.edge1[0]), e1y = _mm_load_ps(p.edge1[1]), e1z = _mm_load_ps(p.edge1[2]);
    const __m128 e2x = _mm_load_ps(p.edge2[0]), e2y = _mm_load_ps(p.edge2[1]), e2z = _mm_load_ps(p.edge2[2]);
    __m128 nx, ny, nz;
    face_normals(p, nx, ny, nz);
    const __m128 d11 = dot3(e1x, e1y, e1z, e1x, e1y, e1z);
    const __m128 d22 = dot3(e2x, e2y, e2z, e2x, e2y, e2z);
    const __m128 d12 = dot3(e1x, e1y, e1z, e2x, e2y, e2z);
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    auto finite = [&](__m128 x) { return _mm_cmple_ps(_mm_and_ps(x, magnitude), _mm_set1_ps(FLT_MAX)); };
    const __m128 floor = _mm_set1_ps(min_regular_dot);
    __m128 ok = _mm_and_ps(_mm_and_ps(finite(nx), finite(ny)), _mm_and_ps(finite(nz), finite(d12)));
    ok = _mm_and_ps(ok, _mm_and_ps(_mm_and_ps(finite(d11), finite(d22)), _mm_and_ps(_mm_cmpge_ps(d11, floor), _mm_cmpge_ps(d22, floor))));
    int well_conditioned = 0;
    for (int h = 0; h < 2; ++h) {
        auto widen = [h](__m128 x) { return _mm_cvtps_pd(h == 0 ? x : _mm_movehl_ps(x, x)); };
        const __m128d s11 = widen(d11), s22 = widen(d22), s12 = widen(d12);
        const __m128d product = _mm_mul_pd(s11, s22);
        const __m128d det = _mm_sub_pd(product, _mm_mul_pd(s12, s12));
        const __m128d condition = _mm_div_pd(product, det);
        const __m128d fine = _mm_and_pd(_mm_cmpgt_pd(det, _mm_setzero_pd()), _mm_cmple_pd(condition, _mm_set1_pd(max_regular_condition)));
        well_conditioned |= _mm_movemask_pd(fine) << (2 * h);
    }
    const __m128 zero = _mm_setzero_ps();
    const int zero_normal = _mm_movemask_ps(_mm_and_ps(_mm_and_ps(_mm_cmpeq_ps(nx, zero), _mm_cmpeq_ps(ny, zero)), _mm_cmpeq_ps(nz, zero)));
    int filled = 0;
    for (int lane = 0; lane < 4; ++lane) filled |= (p.index[lane] >= 0) << lane;
    const int regular = in_range & _mm_movemask_ps(ok) & well_conditioned;
    return filled & ~regular & ~zero_normal;
}

}  // namespace packet_fill

// Lanes of `faces` that are -1 stay empty: the zero normal meets nothing.
inline void fill_packet(const mesh& m, const std::int32_t faces[4], triangle_packet& p) {
    packet_fill::gather(m, faces, p);
    packet_fill::finish(p);
}

// The same for triangles whose kind is not known yet (a compact leaf's):
// returns the lanes that hold slivers, whose normals are left zero so that
// packet_hits passes them by; they need intersect_sliver.
inline int fill_packet_of_any_kind(const mesh& m, const std::int32_t faces[4], triangle_packet& p) {
    const int in_range = packet_fill::gather(m, faces, p);
    packet_fill::finish(p);
    const int sliver_lanes = packet_fill::slivers(p, in_range);
    if (sliver_lanes != 0) {
        for (int lane = 0; lane < 4; ++lane) {
            if (((sliver_lanes >> lane) & 1) == 0) continue;
            for (int a = 0; a < 3; ++a) p.normal[a][lane] = 0.0f;
        }
    }
    return sliver_lanes;
}
