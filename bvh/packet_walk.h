// The walk of a packet of rays, written once and compiled once for each
// instruction set: traverse_packet.cpp includes this file several times,
// each time inside a namespace of its own that names the set as
// `constexpr packet_isa isa`, under that set's target. Everything included
// here is included there first, so nothing below the includes is
// compiled for a set other than the one the namespace names.
//
// The walk: each node is visited once for all the rays
// that reached it, each ray tested against the node's boxes by the very
// arithmetic of the single-ray walk's slab test (slab_ray::enter), with its
// own best distance, the rays side by side in vector lanes. A box goes on
// with the rays that met it; the packet follows the box the first of them
// enters first, and the others wait on a stack with their rays and the
// distance each enters them at. A leaf's packets of four triangles meet its
// rays four at a time, each lane by packet_hits's arithmetic (packet_leaf.h),
// its slivers ray by ray, as the single-ray walk tests them (a compact
// leaf's triangles are made once for all of them). Every ray therefore
// meets every box that could hold a hit it would accept, and ranks its hits
// as the single-ray walk does: its answer is the same.

#include <cassert>
#include <cstdint>

#include "bvh/bvh.h"
#include "bvh/packet_lanes.h"
#include "bvh/packet_leaf.h"
#include "bvh/traverse_steps.h"

using namespace bvh_traverse;
using namespace bvh_lanes;

// The rays as the steps take them: lane k holds ray k's slab_ray values
// and the ray itself, and the single-ray structures stand ready for its
// leaves.
struct packet_rays {
    lanes inv[3];
    lanes near_shift[3];
    lanes far_shift[3];
    lane_mask negative[3];  // the lanes whose direction is negative on each axis: their near planes are the boxes' hi
    lanes origin[3];        // the rays themselves, for the leaves
    lanes direction[3];
    // Each ray's nearest_hit, field by field: its best distance, the
    // distance its triangles are asked with, the index of the triangle
    // hit (-1: none yet) and, once there is one, its normal.
    lanes best;
    lanes limit;
    lane_mask index;
    float normal[3][packet_size];

    nearest_hit nearest(int k) const {
        nearest_hit h(best[k]);
        h.limit = limit[k];
        h.hit.index = index[k];
        if (h.hit.index >= 0) h.hit.normal = {normal[0][k], normal[1][k], normal[2][k]};
        return h;
    }
    void keep(int k, const nearest_hit& h) {
        best[k] = h.best;
        limit[k] = h.limit;
        index[k] = h.hit.index;
        normal[0][k] = h.hit.normal.x;
        normal[1][k] = h.hit.normal.y;
        normal[2][k] = h.hit.normal.z;
    }
    // The rays of `rays` that have a hit.
    unsigned hit(unsigned rays) const { return rays & bits(index >= 0); }
};

// A float's bits but the sign's, as a signed integer: the float's
// magnitude, in an order integers compare in.
PACKET_INLINE lane_mask size(lanes x) { return reinterpret_cast<lane_mask>(x) & 0x7fffffff; }

// The live rays of `active` (a distance above 0, a ray that can hit
// anything), made ready for the walk: slab_ray's constructor lane by lane,
// its operations in its order. Lanes without a ray get NaNs, which meet no
// box, and are masked off besides.
PACKET_INLINE unsigned make_rays(const ray_packet& in, unsigned active, const float* distances, packet_rays& rays) {
    assert((active >> packet_size) == 0 && "more rays than a packet holds");
    const lanes o[3] = {load(in.origin[0]), load(in.origin[1]), load(in.origin[2])};
    const lanes d[3] = {load(in.direction[0]), load(in.direction[1]), load(in.direction[2])};
    for (int a = 0; a < 3; ++a) {
        rays.origin[a] = o[a];
        rays.direction[a] = d[a];
    }
    const lanes distance = load(distances);
    // can_hit_anything, and a distance above 0 (nothing can be both beyond
    // 0 and nearer than a distance that is not above 0, a NaN included).
    // A float is finite when its magnitude's bits, as a signed integer,
    // are at most those of the largest finite float. (Each comparison is
    // taken to bits on its own: GCC turns comparisons combined as vectors
    // in an inlined function into one comparison a lane.)
    unsigned live = active & bits(distance > 0.0f);
    for (int a = 0; a < 3; ++a) live &= bits(size(o[a]) <= 0x7f7fffff) & bits(size(d[a]) <= 0x7f7fffff);
    // Some direction: some component whose magnitude is not zero.
    live &= bits((size(d[0]) | size(d[1]) | size(d[2])) != 0);
    const lane_mask lane_index = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    const lane_mask on = ((lane_mask{} + static_cast<std::int32_t>(live)) >> lane_index & 1) != 0;

    // ray_allowance, lane by lane.
    const lanes x = o[0] < 0.0f ? -o[0] : o[0], y = o[1] < 0.0f ? -o[1] : o[1], z = o[2] < 0.0f ? -o[2] : o[2];
    const lanes largest = x > y ? (x > z ? x : z) : (y > z ? y : z);
    const lanes allowance = ray_allowance_factor * largest;
    const lanes nan = splat(__builtin_nanf(""));
    rays.best = on ? distance : nan;
    rays.limit = rays.best;
    rays.index = lane_mask{} - 1;
    const lane_bits sign_bit = lane_bits{} + 0x80000000u;
    for (int a = 0; a < 3; ++a) {
        const lane_bits sign = as_bits(d[a]) & sign_bit;
        const lanes signed_allowance = as_lanes(as_bits(allowance) | sign);
        const lane_mask culls = as_lanes(as_bits(d[a]) & ~sign_bit) >= min_culling_component;
        rays.inv[a] = culls ? 1.0f / d[a] : lanes{};
        rays.near_shift[a] = culls ? (o[a] + signed_allowance) * rays.inv[a] : splat(INFINITY);
        rays.far_shift[a] = culls ? (o[a] - signed_allowance) * rays.inv[a] : splat(-INFINITY);
        rays.negative[a] = sign != 0;
    }
    // Dead lanes test every box with NaNs, which meet none.
    for (int a = 0; a < 3; ++a) rays.inv[a] = on ? rays.inv[a] : nan;
    return live;
}

// Boxes met but not yet visited, each with the rays that met it and the
// distance at which each of them enters it. A node pushes at most three,
// and no tree is deeper than bvh_max_depth.
class packet_stack {
public:
    PACKET_INLINE void push(bvh_child child, unsigned rays, const lanes& distance) {
        assert(top_ < capacity && "traversal stack overflow: the tree is deeper than bvh_max_depth");
        entry& e = entries_[top_++];
        e.distance = distance;
        e.child = child.bits;
        e.rays = rays;
    }

    // The next box that some of its rays still enter no farther than their
    // best, into `child` with those rays; false when none is left. An entry
    // distance was computed with the ray's allowance, so comparing it with
    // a newer best is safe.
    PACKET_INLINE bool pop(const lanes& best, bvh_child& child, unsigned& active) {
        while (top_ > 0) {
            const entry& e = entries_[--top_];
            const unsigned left = e.rays & bits_less_equal(e.distance, best);
            if (left == 0) continue;
            child.bits = e.child;
            active = left;
            return true;
        }
        return false;
    }

private:
    static constexpr int capacity = 3 * (bvh_max_depth + 1);
    struct entry {
        lanes distance;  // only the rays' own lanes are meaningful
        std::uint32_t child;
        std::uint32_t rays;
    };
    entry entries_[capacity];  // left uninitialised: only entries below top_ are read
    int top_ = 0;
};

// A node and its rays: the boxes they meet, the one the lowest of them
// enters first into `next` with its rays, the others onto the stack. False
// when they meet none.
template <bool compact>
PACKET_INLINE bool visit_node(const bvh& tree, const bvh_node& n, const packet_rays& rays, unsigned& active,
                              packet_stack& stack, bvh_child& next) {
    union {
        lanes entry[4];
        float entry_of[4][packet_size];  // the same, for the leader's
    };
    unsigned met[4];
    unsigned any = 0;
    for (int c = 0; c < n.child_count; ++c) {
        // slab_ray::enter, lane by lane: max/min keep their second operand
        // when the first is NaN (an infinite box coordinate times a zero
        // reciprocal), so such a slab constrains nothing.
        lanes near[3], far[3];
        for (int a = 0; a < 3; ++a) {
            const lanes lo = splat(n.bounds[a][c]), hi = splat(n.bounds[3 + a][c]);
            near[a] = (rays.negative[a] ? hi : lo) * rays.inv[a] - rays.near_shift[a];
            far[a] = (rays.negative[a] ? lo : hi) * rays.inv[a] - rays.far_shift[a];
        }
        entry[c] = max_lanes(near[2], max_lanes(near[1], max_lanes(near[0], lanes{})));
        const lanes leave = min_lanes(far[2], min_lanes(far[1], min_lanes(far[0], rays.best)));
        met[c] = active & bits_less_equal(entry[c], leave);
        any |= met[c];
    }
    if (any == 0) return false;
    const int leader = __builtin_ctz(any);
    // Every box met is most likely visited soon: each starts on its way
    // from memory now, while the others are put in order.
    for (int c = 0; c < n.child_count; ++c)
        if (met[c] != 0) prefetch<compact>(tree, n.child[c]);

    // The boxes in the order the leader enters them; boxes it misses last.
    int order[4], count = 0;
    float keys[4];
    for (int c = 0; c < n.child_count; ++c) {
        if (met[c] == 0) continue;
        const float key = (met[c] >> leader) & 1 ? entry_of[c][leader] : INFINITY;
        int k = count++;
        for (; k > 0 && keys[k - 1] > key; --k) {
            order[k] = order[k - 1];
            keys[k] = keys[k - 1];
        }
        order[k] = c;
        keys[k] = key;
    }
    for (int k = count - 1; k > 0; --k) stack.push(n.child[order[k]], met[order[k]], entry[order[k]]);
    next = n.child[order[0]];
    active = met[order[0]];
    return true;
}

// A packet of triangles and the rays of `active`, four rays at a time
// (group_hits); each ray takes its hits in lane order, as test_packet does.
PACKET_INLINE void test_packet_lanes(const triangle_packet& triangles, packet_rays& rays, unsigned active) {
    const repeated_packet p(triangles);
    const lane_mask byte_of_group = {0, 0, 0, 0, 8, 8, 8, 8, 16, 16, 16, 16, 24, 24, 24, 24};
    while (active != 0) {
        // The next four rays, their indices a byte each (the last repeated
        // when fewer are left), spread to their groups of lanes.
        int ray[4];
        int count = 0;
        std::uint32_t packed = 0;
        for (; count < 4 && active != 0; ++count, active &= active - 1) {
            ray[count] = __builtin_ctz(active);
            packed |= static_cast<std::uint32_t>(ray[count]) << (8 * count);
        }
        for (int j = count; j < 4; ++j) packed |= static_cast<std::uint32_t>(ray[count - 1]) << (8 * j);
        const lane_mask pick = ((lane_mask{} + static_cast<std::int32_t>(packed)) >> byte_of_group) & 0xff;
        lanes o[3], d[3];
        for (int a = 0; a < 3; ++a) {
            o[a] = __builtin_shuffle(rays.origin[a], pick);
            d[a] = __builtin_shuffle(rays.direction[a], pick);
        }
        lanes t;
        unsigned mask = group_hits(p, o, d, __builtin_shuffle(rays.limit, pick), t);
        for (mask &= (1u << (4 * count)) - 1; mask != 0; mask &= mask - 1) {
            const int lane = __builtin_ctz(mask), i = lane & 3, r = ray[lane >> 2];
            // A lane accepted against an older limit may no longer win.
            if (!(t[lane] < rays.limit[r])) continue;
            nearest_hit nearest = rays.nearest(r);
            nearest.consider(t[lane], triangles.index[i], {triangles.normal[0][i], triangles.normal[1][i], triangles.normal[2][i]});
            rays.keep(r, nearest);
        }
    }
}

// A leaf and its rays: packets of triangles four rays at a time, slivers
// ray by ray, each ray's tests in the order the single-ray walk makes them.
template <bool compact>
PACKET_INLINE void visit_leaf(const bvh& tree, bvh_child leaf, const ray_packet& in, packet_rays& rays, unsigned active) {
    if (compact) {
        const compact_leaf triangles(tree, leaf);
        for (int k = 0; k < triangles.count; ++k) {
            test_packet_lanes(triangles.packets[k], rays, active);
            if (triangles.slivers[k] == 0) continue;
            for (unsigned left = active; left != 0; left &= left - 1) {
                const int r = __builtin_ctz(left);
                nearest_hit nearest = rays.nearest(r);
                triangles.test_slivers(k, tree.source, in.get(r), nearest);
                rays.keep(r, nearest);
            }
        }
    } else if (leaf.holds_slivers()) {
        for (unsigned left = active; left != 0; left &= left - 1) {
            const int r = __builtin_ctz(left);
            nearest_hit nearest = rays.nearest(r);
            visit_slivers(tree, leaf, in.get(r), nearest);
            rays.keep(r, nearest);
        }
    } else {
        assert(leaf.end() <= tree.packets.size() && "a leaf beyond the packets");
        for (std::uint32_t k = leaf.first(); k < leaf.end(); ++k) test_packet_lanes(tree.packets[k], rays, active);
    }
}

// The walk. With `first_hit`, a ray leaves the walk at its first hit: that
// it hits is all the caller wants to know.
template <bool compact, bool first_hit>
PACKET_INLINE void traverse(const bvh& tree, const ray_packet& in, packet_rays& rays, unsigned active) {
    packet_stack stack;
    bvh_child current = bvh_child::node(0);
    unsigned finished = 0;
    for (;;) {
        if (!current.is_leaf()) {
            if (visit_node<compact>(tree, tree.nodes[current.node_index()], rays, active, stack, current)) continue;
        } else {
            visit_leaf<compact>(tree, current, in, rays, active);
            if (first_hit) finished |= rays.hit(active);
        }
        do {
            if (!stack.pop(rays.best, current, active)) return;
            if (first_hit) active &= ~finished;
        } while (active == 0);
    }
}

// The rays made ready, then the walk; returns the live rays.
PACKET_INLINE unsigned walk(const bvh& tree, const ray_packet& in, unsigned active, const float* distances, packet_rays& rays,
                            bool first_hit) {
    const unsigned live = make_rays(in, active, distances, rays);
    if (live == 0) return 0;
    if (tree.compact())
        first_hit ? traverse<true, true>(tree, in, rays, live) : traverse<true, false>(tree, in, rays, live);
    else
        first_hit ? traverse<false, true>(tree, in, rays, live) : traverse<false, false>(tree, in, rays, live);
    return live;
}

// The walk's two entries, intersect_bvh_packet's and occluded_bvh_packet's.
unsigned intersect(const bvh& tree, const ray_packet& in, unsigned active, float* distances, bvh_hit* hits) {
    packet_rays rays;
    const unsigned hit = rays.hit(walk(tree, in, active, distances, rays, false));
    for (unsigned left = hit; left != 0; left &= left - 1) {
        const int r = __builtin_ctz(left);
        distances[r] = rays.best[r];
        hits[r] = {rays.index[r], {rays.normal[0][r], rays.normal[1][r], rays.normal[2][r]}};
    }
    return hit;
}

unsigned occluded(const bvh& tree, const ray_packet& in, unsigned active, const float* distances) {
    packet_rays rays;
    return rays.hit(walk(tree, in, active, distances, rays, true));
}
