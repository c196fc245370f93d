#include <emmintrin.h>

#include <cfloat>

#include "bvh/build/corners.h"
#include "bvh/build/stages.h"
#include "util/parallel_for.h"

namespace bvh_build {

namespace {

// A packet's lanes get the fields prepare_triangle gives a regular
// triangle, computed the same way (the tests compare them field by field):
// here the four lanes' normals at once, where every squared length is a
// normal float, as normalize computes them (a float's square root rounded
// once is the double one rounded to float); otherwise lane by lane.
void fill_packet(const mesh& m, const std::int32_t* lanes, triangle_packet& p) {
    for (int lane = 0; lane < 4; ++lane) p.index[lane] = lanes[lane];
    float v[3][3][4] = {};  // corner 0, edge 1, edge 2; axis; lane
    for (int lane = 0; lane < 4; ++lane) {
        if (p.index[lane] < 0) continue;  // an empty lane: the zero normal meets nothing
        const vector3 v0 = corner_of(m, p.index[lane], 0);
        const vector3 e1 = corner_of(m, p.index[lane], 1) - v0;
        const vector3 e2 = corner_of(m, p.index[lane], 2) - v0;
        const vector3* fields[3] = {&v0, &e1, &e2};
        for (int f = 0; f < 3; ++f) {
            v[f][0][lane] = fields[f]->x;
            v[f][1][lane] = fields[f]->y;
            v[f][2][lane] = fields[f]->z;
        }
    }
    float (*rows[3])[4] = {p.vertex, p.edge1, p.edge2};
    for (int f = 0; f < 3; ++f)
        for (int a = 0; a < 3; ++a) _mm_store_ps(rows[f][a], _mm_loadu_ps(v[f][a]));

    // cross(e1, e2), component by component as math/vector3.h has it.
    const __m128 e1x = _mm_load_ps(p.edge1[0]), e1y = _mm_load_ps(p.edge1[1]), e1z = _mm_load_ps(p.edge1[2]);
    const __m128 e2x = _mm_load_ps(p.edge2[0]), e2y = _mm_load_ps(p.edge2[1]), e2z = _mm_load_ps(p.edge2[2]);
    const __m128 nx = _mm_sub_ps(_mm_mul_ps(e1y, e2z), _mm_mul_ps(e1z, e2y));
    const __m128 ny = _mm_sub_ps(_mm_mul_ps(e1z, e2x), _mm_mul_ps(e1x, e2z));
    const __m128 nz = _mm_sub_ps(_mm_mul_ps(e1x, e2y), _mm_mul_ps(e1y, e2x));
    const __m128 squared = _mm_add_ps(_mm_add_ps(_mm_mul_ps(nx, nx), _mm_mul_ps(ny, ny)), _mm_mul_ps(nz, nz));
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
    const __m128 offset = _mm_add_ps(
        _mm_add_ps(_mm_mul_ps(_mm_load_ps(p.normal[0]), _mm_load_ps(p.vertex[0])),
                   _mm_mul_ps(_mm_load_ps(p.normal[1]), _mm_load_ps(p.vertex[1]))),
        _mm_mul_ps(_mm_load_ps(p.normal[2]), _mm_load_ps(p.vertex[2])));
    _mm_store_ps(p.offset, offset);
}

void fill_sliver(const mesh& m, std::int32_t k, sliver_record& r) {
    vector3 corner[3];
    for (int j = 0; j < 3; ++j) corner[j] = corner_of(m, k, j);
    const triangle_setup s = prepare_triangle(corner, cross(corner[1] - corner[0], corner[2] - corner[0]));
    for (int j = 0; j < 3; ++j) r.vertex[j] = s.vertex[j];
    r.plane = s.plane;
    r.normal = s.normal;
    r.index = k;
}

// How many packets ahead the fill starts a packet's corners on their way.
constexpr int prefetch_packets = 4;

}  // namespace

void fill_leaves(const mesh& m, const leaf_faces& faces, const config& c, bvh& tree) {
    tree.packets.resize(faces.packet_lanes.size() / 4);
    tree.slivers.resize(faces.slivers.size());
    const int packet_count = static_cast<int>(tree.packets.size());
    util::parallel_for({0, packet_count}, c.chunks_for(packet_count), c.threads, [&](int, util::index_range run) {
        for (int k = run.begin; k < run.end; ++k) {
            const std::int32_t* lanes = &faces.packet_lanes[4 * static_cast<std::size_t>(k)];
            if (k + prefetch_packets < run.end) {
                for (int lane = 0; lane < 4; ++lane) {
                    const std::int32_t face = lanes[4 * prefetch_packets + lane];
                    if (face >= 0) prefetch_corners(m, face);
                }
            }
            fill_packet(m, lanes, tree.packets[static_cast<std::size_t>(k)]);
        }
    });
    const int sliver_count = static_cast<int>(tree.slivers.size());
    util::parallel_for({0, sliver_count}, c.chunks_for(sliver_count), c.threads, [&](int, util::index_range run) {
        for (int k = run.begin; k < run.end; ++k)
            fill_sliver(m, faces.slivers[static_cast<std::size_t>(k)], tree.slivers[static_cast<std::size_t>(k)]);
    });
}

}  // namespace bvh_build
