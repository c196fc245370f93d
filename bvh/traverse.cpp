#include <xmmintrin.h>

#include <cassert>
#include <cmath>
#include <cstdint>
#include <utility>

#include "bvh/bvh.h"
#include "bvh/packet_fill.h"
#include "math/float_step.h"
#include "ray_triangle/sliver.h"

// The traversal: nearest box first, the others on a stack with the distance
// at which the ray enters them. A box is entered when the ray's segment
// (0, best] meets it widened by the ray's allowance (reach.h), so no box is
// ever passed over that holds a hit the triangle tests would accept. Among
// accepted hits the ranking is by distance, then index, which is what the
// linear scan in index order returns.

namespace {

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

// The boxes met but not yet visited, with the distance the ray enters
// each at. A node pushes at most three, and no tree is deeper than
// bvh_max_depth.
class visit_stack {
public:
    void push(bvh_child child, float distance) {
        assert(top_ < capacity && "traversal stack overflow: the tree is deeper than bvh_max_depth");
        entries_[top_++] = {child.bits, distance};
    }

    // The next box the ray enters no farther than `best`, into `next`;
    // false when none is left. An entry distance was computed with the
    // ray's allowance, so comparing it with a newer best is safe.
    bool pop(float best, bvh_child& next) {
        while (top_ > 0) {
            const entry e = entries_[--top_];
            if (e.distance <= best) {
                next.bits = e.child;
                return true;
            }
        }
        return false;
    }

private:
    static constexpr int capacity = 3 * (bvh_max_depth + 1);

    struct entry {
        std::uint32_t child;
        float distance;
    };
    entry entries_[capacity];  // left uninitialised: only entries below top_ are read
    int top_ = 0;
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
void prefetch(const bvh& tree, bvh_child child) {
    const void* p = !child.is_leaf()       ? static_cast<const void*>(&tree.nodes[child.node_index()])
                    : compact               ? static_cast<const void*>(&tree.triangles[child.first()])
                    : child.holds_slivers() ? static_cast<const void*>(&tree.slivers[child.first()])
                                            : static_cast<const void*>(&tree.packets[child.first()]);
    _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0);
    _mm_prefetch(static_cast<const char*>(p) + 64, _MM_HINT_T0);
}

// A node: the boxes the ray meets, nearest first into `next`, the others
// onto the stack. False when it meets none. The order only saves work; the
// ranking does not depend on it.
template <bool compact>
bool visit_node(const bvh& tree, const bvh_node& n, const slab_ray& slabs, float best, visit_stack& stack,
                bvh_child& next) {
    __m128 entry;
    int mask = slabs.enter(n, best, entry);
    if (mask == 0) return false;
    alignas(16) float entries[4];
    _mm_store_ps(entries, entry);
    int first = __builtin_ctz(mask);
    mask &= mask - 1;
    if (mask == 0) {
        next = n.child[first];
        return true;
    }
    int second = __builtin_ctz(mask);
    mask &= mask - 1;
    if (mask == 0) {
        if (entries[second] < entries[first]) std::swap(first, second);
        stack.push(n.child[second], entries[second]);
        prefetch<compact>(tree, n.child[second]);
        next = n.child[first];
        return true;
    }
    // Three or four: sorted by entry distance, by insertion.
    int order[4] = {first, second, 0, 0}, count = 2;
    if (entries[second] < entries[first]) std::swap(order[0], order[1]);
    while (mask != 0) {
        const int lane = __builtin_ctz(mask);
        mask &= mask - 1;
        int k = count++;
        while (k > 0 && entries[order[k - 1]] > entries[lane]) {
            order[k] = order[k - 1];
            --k;
        }
        order[k] = lane;
    }
    for (int k = count - 1; k > 0; --k) stack.push(n.child[order[k]], entries[order[k]]);
    prefetch<compact>(tree, n.child[order[1]]);
    next = n.child[order[0]];
    return true;
}

// Four triangles in one test.
void test_packet(const triangle_packet& p, const ray_lanes& lanes, nearest_hit& nearest) {
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
void visit_packets(const bvh& tree, bvh_child leaf, const ray_lanes& lanes, nearest_hit& nearest) {
    assert(leaf.end() <= tree.packets.size() && "a leaf beyond the packets");
    for (std::uint32_t k = leaf.first(); k < leaf.end(); ++k) test_packet(tree.packets[k], lanes, nearest);
}

// A leaf of slivers: one double-precision test each.
void visit_slivers(const bvh& tree, bvh_child leaf, const ray& r, nearest_hit& nearest) {
    assert(leaf.end() <= tree.slivers.size() && "a leaf beyond the sliver records");
    for (std::uint32_t k = leaf.first(); k < leaf.end(); ++k) {
        const sliver_record& s = tree.slivers[k];
        float d = nearest.limit;
        if (intersect_sliver(s.vertex, s.plane, r, d) != hit_none) nearest.consider(d, s.index, s.normal);
    }
}

// A compact leaf: its triangles four at a time, in a packet filled on the
// spot as a packet tree's leaves are filled, and those of them that turn
// out to be slivers one by one, prepared on the spot as a packet tree's
// sliver records are.
void visit_compact(const bvh& tree, bvh_child leaf, const ray& r, const ray_lanes& lanes, nearest_hit& nearest) {
    assert(leaf.end() <= tree.triangles.size() && "a leaf beyond the compact triangles");
    for (std::uint32_t first = leaf.first(); first < leaf.end(); first += 4) {
        std::int32_t faces[4];
        for (std::uint32_t lane = 0; lane < 4; ++lane) faces[lane] = first + lane < leaf.end() ? tree.triangles[first + lane] : -1;
        triangle_packet p;
        int slivers = fill_packet_of_any_kind(tree.source, faces, p);
        test_packet(p, lanes, nearest);
        for (; slivers != 0; slivers &= slivers - 1) {
            const std::int32_t index = faces[__builtin_ctz(slivers)];
            const vector3 corner[3] = {mesh_corner(tree.source, index, 0), mesh_corner(tree.source, index, 1),
                                       mesh_corner(tree.source, index, 2)};
            const triangle_setup s = prepare_triangle(corner, cross(corner[1] - corner[0], corner[2] - corner[0]));
            float d = nearest.limit;
            if (intersect_sliver(s.vertex, s.plane, r, d) != hit_none) nearest.consider(d, index, s.normal);
        }
    }
}

// No triangle test accepts a ray that is not finite or has no direction.
bool can_hit_anything(const ray& r) {
    if (!is_finite(r.origin) || !is_finite(r.direction)) return false;
    return !(r.direction.x == 0.0f && r.direction.y == 0.0f && r.direction.z == 0.0f);
}

// The walk down the tree, for either form of leaf.
template <bool compact>
void traverse(const bvh& tree, const ray& r, nearest_hit& nearest) {
    const slab_ray slabs(r);
    const ray_lanes lanes(r);
    visit_stack stack;
    bvh_child current = bvh_child::node(0);
    for (;;) {
        if (!current.is_leaf()) {
            if (visit_node<compact>(tree, tree.nodes[current.node_index()], slabs, nearest.best, stack, current)) continue;
        } else if (compact) {
            visit_compact(tree, current, r, lanes, nearest);
        } else if (current.holds_slivers()) {
            visit_slivers(tree, current, r, nearest);
        } else {
            visit_packets(tree, current, lanes, nearest);
        }
        if (!stack.pop(nearest.best, current)) break;
    }
}

}  // namespace

int intersect_bvh(const bvh& tree, const ray& r, float& distance, bvh_hit& hit) {
    // Nothing can be both beyond 0 and nearer than a distance that is not
    // above 0 (a NaN included).
    if (!(distance > 0.0f) || tree.nodes.empty() || !can_hit_anything(r)) return hit_none;

    nearest_hit nearest(distance);
    if (tree.compact())
        traverse<true>(tree, r, nearest);
    else
        traverse<false>(tree, r, nearest);
    if (nearest.hit.index < 0) return hit_none;
    distance = nearest.best;
    hit = nearest.hit;
    return hit_outside;
}
