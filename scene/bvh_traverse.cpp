#include <xmmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "scene/bvh.h"
#include "scene/bvh_bounds.h"
#include "scene/bvh_build_parts.h"

// The traversal: nearest box first, the others on a stack with the distance
// at which the ray enters them. A box is entered when the ray's segment
// (0, best] meets it widened by the ray's allowance (bvh_bounds.h), so no
// box is ever passed over that holds a hit the triangle tests would accept.
// Among accepted hits the ranking is by distance, then index, which is
// what the linear scan in index order returns.

namespace {

// A binary tree of depth D folds into four-wide nodes of depth at most D,
// and the stack takes three entries a level at most.
constexpr int stack_size = 3 * max_binary_depth + 4;

// Below this, a direction component's reciprocal could overflow: that axis
// then culls nothing, which only costs such rays some work.
constexpr float min_culling_component = 0x1p-64f;

// The float just above x (x positive and finite).
float next_up(float x) {
    std::uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    ++bits;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

bool finite(const vector3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// The next box in line is most often visited soon after: its node or its
// first leaf entry starts on its way from memory now.
void prefetch(const bvh& tree, bvh_child child) {
    const void* p = !child.is_leaf()       ? static_cast<const void*>(&tree.nodes[child.node_index()])
                    : child.holds_slivers() ? static_cast<const void*>(&tree.slivers[child.first()])
                                            : static_cast<const void*>(&tree.packets[child.first()]);
    _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0);
    _mm_prefetch(static_cast<const char*>(p) + 64, _MM_HINT_T0);
}

}  // namespace

int intersect_bvh(const bvh& tree, const ray& r, float& distance, bvh_hit& hit) {
    float best = distance;
    // Nothing can be both beyond 0 and nearer than this (a NaN included);
    // and no triangle test accepts a ray that is not finite or has no
    // direction, so neither needs a look at the tree.
    if (!(best > 0.0f) || tree.nodes.empty()) return hit_none;
    if (!finite(r.origin) || !finite(r.direction)) return hit_none;
    if (r.direction.x == 0.0f && r.direction.y == 0.0f && r.direction.z == 0.0f) return hit_none;

    int best_code = hit_none;
    bvh_hit best_hit;
    // What the triangles are asked with: the incoming distance until
    // something is found, then the float just above the best, so that a hit
    // at exactly the best distance shows up and the lower index can win the
    // tie (best is then positive and finite).
    float limit = best;
    auto consider = [&](float d, std::int32_t index, const vector3& normal) {
        if (best_hit.index >= 0 && !(d < best) && index > best_hit.index) return;
        best = d;
        best_hit.index = index;
        best_hit.normal = normal;
        best_code = hit_outside;
        limit = next_up(best);
    };

    // Near plane lo - m (hi + m when the direction is negative), far plane
    // hi + m (lo - m): the slab distances as box·inv - shift, all three
    // axes at once. An axis whose direction component is below
    // min_culling_component (zero included) culls nothing: box·0 - (+inf)
    // and box·0 - (-inf) make its slab the whole line.
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
    const int negative = _mm_movemask_ps(sign);
    const __m128 inv[3] = {_mm_shuffle_ps(inv_all, inv_all, 0x00), _mm_shuffle_ps(inv_all, inv_all, 0x55),
                           _mm_shuffle_ps(inv_all, inv_all, 0xaa)};
    const __m128 near_shift[3] = {_mm_shuffle_ps(near_all, near_all, 0x00), _mm_shuffle_ps(near_all, near_all, 0x55),
                                  _mm_shuffle_ps(near_all, near_all, 0xaa)};
    const __m128 far_shift[3] = {_mm_shuffle_ps(far_all, far_all, 0x00), _mm_shuffle_ps(far_all, far_all, 0x55),
                                 _mm_shuffle_ps(far_all, far_all, 0xaa)};
    int near_row[3], far_row[3];
    for (int a = 0; a < 3; ++a) {
        near_row[a] = (negative >> a) & 1 ? 3 + a : a;
        far_row[a] = (negative >> a) & 1 ? a : 3 + a;
    }
    const __m128 zero = _mm_setzero_ps();
    const ray_lanes lanes(r);

    // Left uninitialised: only entries below `top` are ever read.
    struct entry {
        std::uint32_t child;
        float distance;
    };
    entry stack[stack_size];
    int top = 0;
    bvh_child current = bvh_child::node(0);

    for (;;) {
        if (!current.is_leaf()) {
            const bvh_node& n = tree.nodes[current.node_index()];
            const __m128 best_v = _mm_set1_ps(best);
            // max/min keep their second operand when the first is NaN (an
            // infinite box coordinate times a zero reciprocal): such a slab
            // constrains nothing.
            const __m128 near_x = _mm_sub_ps(_mm_mul_ps(_mm_load_ps(n.bounds[near_row[0]]), inv[0]), near_shift[0]);
            const __m128 near_y = _mm_sub_ps(_mm_mul_ps(_mm_load_ps(n.bounds[near_row[1]]), inv[1]), near_shift[1]);
            const __m128 near_z = _mm_sub_ps(_mm_mul_ps(_mm_load_ps(n.bounds[near_row[2]]), inv[2]), near_shift[2]);
            const __m128 far_x = _mm_sub_ps(_mm_mul_ps(_mm_load_ps(n.bounds[far_row[0]]), inv[0]), far_shift[0]);
            const __m128 far_y = _mm_sub_ps(_mm_mul_ps(_mm_load_ps(n.bounds[far_row[1]]), inv[1]), far_shift[1]);
            const __m128 far_z = _mm_sub_ps(_mm_mul_ps(_mm_load_ps(n.bounds[far_row[2]]), inv[2]), far_shift[2]);
            const __m128 enter = _mm_max_ps(near_z, _mm_max_ps(near_y, _mm_max_ps(near_x, zero)));
            const __m128 leave = _mm_min_ps(far_z, _mm_min_ps(far_y, _mm_min_ps(far_x, best_v)));
            int mask = _mm_movemask_ps(_mm_cmple_ps(enter, leave)) & ((1 << n.child_count) - 1);
            if (mask != 0) {
                // Nearest box first, the others onto the stack; the order
                // only saves work, the ranking does not depend on it.
                alignas(16) float entries[4];
                _mm_store_ps(entries, enter);
                int first = __builtin_ctz(mask);
                mask &= mask - 1;
                if (mask == 0) {
                    current = n.child[first];
                    continue;
                }
                int second = __builtin_ctz(mask);
                mask &= mask - 1;
                if (mask == 0) {
                    if (entries[second] < entries[first]) std::swap(first, second);
                    stack[top++] = {n.child[second].bits, entries[second]};
                    prefetch(tree, n.child[second]);
                    current = n.child[first];
                    continue;
                }
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
                for (int k = count - 1; k > 0; --k) stack[top++] = {n.child[order[k]].bits, entries[order[k]]};
                prefetch(tree, n.child[order[1]]);
                current = n.child[order[0]];
                continue;
            }
        } else if (!current.holds_slivers()) {
            const std::uint32_t end = current.first() + static_cast<std::uint32_t>(current.length());
            for (std::uint32_t k = current.first(); k < end; ++k) {
                const triangle_packet& p = tree.packets[k];
                __m128 t;
                int mask = packet_hits(p, lanes, _mm_set1_ps(limit), &t);
                if (mask == 0) continue;
                alignas(16) float ts[4];
                _mm_store_ps(ts, t);
                for (; mask != 0; mask &= mask - 1) {
                    const int lane = __builtin_ctz(mask);
                    // A lane accepted against an older limit may no longer win.
                    if (!(ts[lane] < limit)) continue;
                    consider(ts[lane], p.index[lane], {p.normal[0][lane], p.normal[1][lane], p.normal[2][lane]});
                }
            }
        } else {
            const std::uint32_t end = current.first() + static_cast<std::uint32_t>(current.length());
            for (std::uint32_t k = current.first(); k < end; ++k) {
                const sliver_record& s = tree.slivers[k];
                float d = limit;
                if (intersect_sliver(s.vertex, s.plane, r, d) != hit_none) consider(d, s.index, s.normal);
            }
        }
        // Next box: a stacked entry distance was computed with this ray's
        // allowance, so comparing it with the new best is safe.
        for (;;) {
            if (top == 0) {
                if (best_hit.index < 0) return hit_none;
                distance = best;
                hit = best_hit;
                return best_code;
            }
            const entry e = stack[--top];
            if (e.distance <= best) {
                current.bits = e.child;
                break;
            }
        }
    }
}
