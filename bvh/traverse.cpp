#include <xmmintrin.h>

#include <cassert>
#include <cstdint>
#include <utility>

#include "bvh/bvh.h"
#include "bvh/traverse_steps.h"

// The walk of one ray: nearest box first, the others on a stack with the
// distance at which the ray enters them (the steps: traverse_steps.h).

namespace {

using namespace bvh_traverse;

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
            compact_leaf(tree, current).test(tree.source, r, lanes, nearest);
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
