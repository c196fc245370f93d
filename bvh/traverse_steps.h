#pragma once

// The traversal's steps, shared by the walk of one ray (traverse.cpp) and
// the walk of a packet of rays (packet_walk.h): the slab test, the
// ranking of hits, the leaves' tests. Nothing outside bvh/ includes this.
//
// A box is entered when the ray's segment (0, best] meets it widened by the
// ray's allowance (reach.h), so no box is ever passed over that holds a hit
// the triangle tests would accept. Among accepted hits the ranking is by
// distance, then index, which is what the linear scan in index order
// returns; the order in which boxes are visited only saves work.

#include <xmmintrin.h>

#include <cassert>
#include <cmath>
#include <cstdint>

#include "bvh/bvh.h"
#include "bvh/packet_fill.h"
#include "math/float_step.h"
#include "ray_triangle/sliver.h"

namespace bvh_traverse {

// Below this, a direction component's reciprocal could overflow: that axis
// then culls nothing, which only costs such rays some work.
constexpr float min_culling_component = 0x1p-64f;

// The ray as the slab tests take it, every value in all four lanes: per
// axis the reciprocal of the direction, and the shifts that turn a box
// plane times the reciprocal into the distance where the ray crosses the
// plane widened by its allowance. Near plane lo - m (hi + m when the
// direction is negative), far plane hi + m (lo - m): the slab distances
// are box·inv - shift. An axis whose direction component is below
// min_culling_component (zero included) culls nothing: box·0 - (+inf) and
// box·0 - (-inf) make its slab the whole line.
struct slab_ray {
    __m128 inv[3];
    __m128 near_shift[3];
    __m128 far_shift[3];
    int near_row[3];  // the row of a node's bounds that holds each axis's near planes
    int far_row[3];

    explicit slab_ray(const ray& r) {
        const __m128 o = _mm_setr_ps(r.origin.x, r.origin.y, r.origin.z, 0.0f);
        const __m128 d = _mm_setr_ps(r.direction.x, r.direction.y, r.direction.z, 1.0f);
        const __m128 sign = _mm_and_ps(d, _mm_set1_ps(-0.0f));
        const __m128 signed_allowance = _mm_or_ps(_mm_set1_ps(ray_allowance(r.origin)), sign);
        const __m128 culls = _mm_cmpge_ps(_mm_andnot_ps(_mm_set1_ps(-0.0f), d), _mm_set1_ps(min_culling_component));
        const __m128 inv_all = _mm_and_ps(_mm_div_ps(_mm_set1_ps(1.0f), d), culls);
        const __m128 near_all = _mm_or_ps(_mm_and_ps(culls, _mm_mul_ps(_mm_add_ps(o, signed_allowance), inv_all)),
                                          _mm_andnot_ps(culls, _mm_set1_ps(INFINITY)));
        const __m128 far_all = _mm_or_ps(_mm_and_ps(culls, _mm_mul_ps(_mm_sub_ps(o, signed_allowance), inv_all)),
                                         _mm_andnot_ps(culls, _mm_set1_ps(-INFINITY)));
        inv[0] = _mm_shuffle_ps(inv_all, inv_all, 0x00);
        inv[1] = _mm_shuffle_ps(inv_all, inv_all, 0x55);
        inv[2] = _mm_shuffle_ps(inv_all, inv_all, 0xaa);
        near_shift[0] = _mm_shuffle_ps(near_all, near_all, 0x00);
        near_shift[1] = _mm_shuffle_ps(near_all, near_all, 0x55);
        near_shift[2] = _mm_shuffle_ps(near_all, near_all, 0xaa);
        far_shift[0] = _mm_shuffle_ps(far_all, far_all, 0x00);
        far_shift[1] = _mm_shuffle_ps(far_all, far_all, 0x55);
        far_shift[2] = _mm_shuffle_ps(far_all, far_all, 0xaa);
        const int negative = _mm_movemask_ps(sign);
        for (int a = 0; a < 3; ++a) {
            near_row[a] = (negative >> a) & 1 ? 3 + a : a;
            far_row[a] = (negative >> a) & 1 ? a : 3 + a;
        }
    }

    // Where the ray enters each of the node's four boxes, and the mask of
    // the live ones it meets within (0, best].
    int enter(const bvh_node& n, float best, __m128& entry) const {
        // max/min keep their second operand when the first is NaN (an
        // infinite box coordinate times a zero reciprocal): such a slab
        // constrains nothing.
        const __m128 near_x = _mm_sub_ps(_mm_mul_ps(_mm_load_ps(n.bounds[near_row[0]]), inv[0]), near_shift[0]);
        const __m128 near_y = _mm_sub_ps(_mm_mul_ps(_mm_load_ps(n.bounds[near_row[1]]), inv[1]), near_shift[1]);
        const __m128 near_z = _mm_sub_ps(_mm_mul_ps(_mm_load_ps(n.bounds[near_row[2]]), inv[2]), near_shift[2]);
        const __m128 far_x = _mm_sub_ps(_mm_mul_ps(_mm_load_ps(n.bounds[far_row[0]]), inv[0]), far_shift[0]);
        const __m128 far_y = _mm_sub_ps(_mm_mul_ps(_mm_load_ps(n.bounds[far_row[1]]), inv[1]), far_shift[1]);
        const __m128 far_z = _mm_sub_ps(_mm_mul_ps(_mm_load_ps(n.bounds[far_row[2]]), inv[2]), far_shift[2]);
        entry = _mm_max_ps(near_z, _mm_max_ps(near_y, _mm_max_ps(near_x, _mm_setzero_ps())));
        const __m128 leave = _mm_min_ps(far_z, _mm_min_ps(far_y, _mm_min_ps(far_x, _mm_set1_ps(best))));
        return _mm_movemask_ps(_mm_cmple_ps(entry, leave)) & ((1 << n.child_count) - 1);
    }
};

// The best hit so far, and the distance the triangles are asked with: the
// incoming distance until something is found, then the float just above
// the best, so that a hit at exactly the best distance shows up and the
// lower index can win the tie (best is then positive and finite).
struct nearest_hit {
    float best;
    float limit;
    bvh_hit hit;

    explicit nearest_hit(float distance) : best(distance), limit(distance) {}

    void consider(float d, std::int32_t index, const vector3& normal) {
        if (hit.index >= 0 && !(d < best) && index > hit.index) return;
        best = d;
        hit.index = index;
        hit.normal = normal;
        limit = next_float_up(best);
    }
};

// The next box in line is most often visited soon after: its node or its
// first leaf entry starts on its way from memory now.
template <bool compact>
inline void prefetch(const bvh& tree, bvh_child child) {
    const void* p = !child.is_leaf()       ? static_cast<const void*>(&tree.nodes[child.node_index()])
                    : compact               ? static_cast<const void*>(&tree.triangles[child.first()])
                    : child.holds_slivers() ? static_cast<const void*>(&tree.slivers[child.first()])
                                            : static_cast<const void*>(&tree.packets[child.first()]);
    _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0);
    _mm_prefetch(static_cast<const char*>(p) + 64, _MM_HINT_T0);
    // A packet of triangles takes four lines.
    if (!compact && child.is_leaf() && !child.holds_slivers()) {
        _mm_prefetch(static_cast<const char*>(p) + 128, _MM_HINT_T0);
        _mm_prefetch(static_cast<const char*>(p) + 192, _MM_HINT_T0);
    }
}

// Four triangles in one test.
inline void test_packet(const triangle_packet& p, const ray_lanes& lanes, nearest_hit& nearest) {
    __m128 t;
    int mask = packet_hits(p, lanes, _mm_set1_ps(nearest.limit), &t);
    if (mask == 0) return;
    alignas(16) float ts[4];
    _mm_store_ps(ts, t);
    for (; mask != 0; mask &= mask - 1) {
        const int lane = __builtin_ctz(mask);
        // A lane accepted against an older limit may no longer win.
        if (!(ts[lane] < nearest.limit)) continue;
        nearest.consider(ts[lane], p.index[lane], {p.normal[0][lane], p.normal[1][lane], p.normal[2][lane]});
    }
}

// A leaf of packets.
inline void visit_packets(const bvh& tree, bvh_child leaf, const ray_lanes& lanes, nearest_hit& nearest) {
    assert(leaf.end() <= tree.packets.size() && "a leaf beyond the packets");
    for (std::uint32_t k = leaf.first(); k < leaf.end(); ++k) test_packet(tree.packets[k], lanes, nearest);
}

// A leaf of slivers: one double-precision test each.
inline void visit_slivers(const bvh& tree, bvh_child leaf, const ray& r, nearest_hit& nearest) {
    assert(leaf.end() <= tree.slivers.size() && "a leaf beyond the sliver records");
    for (std::uint32_t k = leaf.first(); k < leaf.end(); ++k) {
        const sliver_record& s = tree.slivers[k];
        float d = nearest.limit;
        if (intersect_sliver(s.vertex, s.plane, r, d) != hit_none) nearest.consider(d, s.index, s.normal);
    }
}

// A compact leaf's triangles, made from the mesh as a packet tree's leaves
// are made (a leaf names at most eight: two packets), and which lanes hold
// slivers, which are prepared on the spot for each ray as a packet tree's
// sliver records are. Made once for however many rays then test it.
struct compact_leaf {
    triangle_packet packets[2];
    int slivers[2];
    int count = 0;

    compact_leaf(const bvh& tree, bvh_child leaf) {
        assert(leaf.end() <= tree.triangles.size() && "a leaf beyond the compact triangles");
        for (std::uint32_t first = leaf.first(); first < leaf.end(); first += 4, ++count) {
            std::int32_t faces[4];
            for (std::uint32_t lane = 0; lane < 4; ++lane) faces[lane] = first + lane < leaf.end() ? tree.triangles[first + lane] : -1;
            slivers[count] = fill_packet_of_any_kind(tree.source, faces, packets[count]);
        }
    }

    void test(const mesh& source, const ray& r, const ray_lanes& lanes, nearest_hit& nearest) const {
        for (int k = 0; k < count; ++k) {
            test_packet(packets[k], lanes, nearest);
            test_slivers(k, source, r, nearest);
        }
    }

    // The slivers of packet k.
    void test_slivers(int k, const mesh& source, const ray& r, nearest_hit& nearest) const {
        for (int lanes_left = slivers[k]; lanes_left != 0; lanes_left &= lanes_left - 1) {
            const std::int32_t index = packets[k].index[__builtin_ctz(lanes_left)];
            const vector3 corner[3] = {mesh_corner(source, index, 0), mesh_corner(source, index, 1), mesh_corner(source, index, 2)};
            const triangle_setup s = prepare_triangle(corner, cross(corner[1] - corner[0], corner[2] - corner[0]));
            float d = nearest.limit;
            if (intersect_sliver(s.vertex, s.plane, r, d) != hit_none) nearest.consider(d, index, s.normal);
        }
    }
};

// No triangle test accepts a ray that is not finite or has no direction.
inline bool can_hit_anything(const ray& r) {
    if (!is_finite(r.origin) || !is_finite(r.direction)) return false;
    return !(r.direction.x == 0.0f && r.direction.y == 0.0f && r.direction.z == 0.0f);
}

}  // namespace bvh_traverse
