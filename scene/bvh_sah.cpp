#include <xmmintrin.h>

#include <algorithm>
#include <limits>
#include <thread>

#include "scene/bvh_build_parts.h"
#include "scene/parallel_for.h"

namespace {

constexpr int bin_count = 16;
constexpr float node_cost = 1.0f;       // one four-box test
constexpr float packet_cost = 1.0f;     // one four-triangle test
constexpr int parallel_threshold = 4096;         // smaller subtrees are not worth a thread
constexpr int parallel_bin_threshold = 1 << 17;  // nor is binning fewer boxes on several

// Binned surface area heuristic over one array of boxes that every split
// partitions in place.
struct builder {
    box_list& boxes;
    node_arena& nodes;
    int threads;  // this builder may keep this many threads busy, itself included

    int put(int slot, const vbox& bounds, std::int32_t a, std::int32_t b) {
        nodes[slot] = binary_node::make(bounds, a, b);
        return slot;
    }

    // A leaf holds triangles of one kind: a run of both becomes two leaves
    // under one node, the single-precision ones first.
    int leaf(int begin, int end, const part& whole, int slot) {
        const int count = end - begin;
        auto is_regular = [](const vbox& b) { return !is_sliver(b); };
        const int mid = static_cast<int>(std::partition(&boxes[begin], &boxes[begin] + count, is_regular) - &boxes[0]);
        if (mid == begin || mid == end) return put(slot, whole.bounds, -1 - begin, count);
        part left, right;
        for (int k = begin; k < mid; ++k) left.take(boxes[k]);
        for (int k = mid; k < end; ++k) right.take(boxes[k]);
        const int l = put(slot + 1, left.bounds, -1 - begin, mid - begin);
        const int r = put(slot + 2 * (mid - begin), right.bounds, -1 - mid, end - mid);
        return put(slot, whole.bounds, l, r);
    }

    // The subtree over boxes[begin, end) in the slots from `slot` on (see
    // node_arena), its root in `slot`.
    int build(int begin, int end, int depth, const part& whole, int slot) {
        const int count = end - begin;
        if (count <= 1) return leaf(begin, end, whole, slot);

        part left, right;
        int mid = -1;
        if (depth < sah_depth_limit) {
            mid = sah_split(whole, begin, end, left, right);
            if (mid == leaf_is_cheaper) return leaf(begin, end, whole, slot);
        }
        if (mid < 0) {
            if (count <= max_leaf_size) return leaf(begin, end, whole, slot);
            mid = begin + count / 2;  // no usable split: halve in the current order
            for (int k = begin; k < mid; ++k) left.take(boxes[k]);
            for (int k = mid; k < end; ++k) right.take(boxes[k]);
        }

        const int left_slot = slot + 1, right_slot = slot + 2 * (mid - begin);
        int l = -1, r = -1;
        if (threads > 1 && count >= parallel_threshold) {
            // The two sides own disjoint runs of the array and of the slots:
            // a helper builds the left one meanwhile.
            builder helper{boxes, nodes, threads / 2};
            threads -= helper.threads;
            parallel_for(2, 2, [&](int side) {
                if (side == 0)
                    l = helper.build(begin, mid, depth + 1, left, left_slot);
                else
                    r = build(mid, end, depth + 1, right, right_slot);
            });
            threads += helper.threads;
        } else {
            l = build(begin, mid, depth + 1, left, left_slot);
            r = build(mid, end, depth + 1, right, right_slot);
        }
        return put(slot, whole.bounds, l, r);
    }

    static constexpr int leaf_is_cheaper = -2;

    struct bins {
        int count[3][bin_count] = {};
        vbox bounds[3][bin_count];

        void merge(const bins& other) {
            for (int a = 0; a < 3; ++a) {
                for (int b = 0; b < bin_count; ++b) {
                    count[a][b] += other.count[a][b];
                    bounds[a][b].grow(other.bounds[a][b]);
                }
            }
        }
    };

    // The bin of each centre coordinate, lane by lane; the partition uses
    // the very same arithmetic as the binning.
    static void bins_of(__m128 c, __m128 lo, __m128 scale, __m128 last, int out[4]) {
        const __m128 k = _mm_mul_ps(_mm_sub_ps(c, lo), scale);
        const __m128 clamped = _mm_min_ps(_mm_max_ps(k, _mm_setzero_ps()), last);
        alignas(16) std::int32_t b[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(b), _mm_cvttps_epi32(clamped));
        out[0] = b[0];
        out[1] = b[1];
        out[2] = b[2];
    }

    static void bin_one(const vbox& b, __m128 lo, __m128 scale, __m128 last, bins& into) {
        int k[4];
        bins_of(centre(b), lo, scale, last, k);
        for (int a = 0; a < 3; ++a) {
            ++into.count[a][k[a]];
            into.bounds[a][k[a]].grow(b);
        }
    }

    // Neighbours in the array tend to share bins, and each bin update waits
    // for the one before it in the same bin: on long runs, two sets of bins
    // take turns, so those waits overlap.
    void bin_run(int begin, int end, __m128 lo, __m128 scale, __m128 last, bins& into) const {
        int k = begin;
        if (end - begin >= 256) {
            bins other;
            for (; k + 1 < end; k += 2) {
                bin_one(boxes[k], lo, scale, last, into);
                bin_one(boxes[k + 1], lo, scale, last, other);
            }
            into.merge(other);
        }
        for (; k < end; ++k) bin_one(boxes[k], lo, scale, last, into);
    }

    // Leaves are priced by the packets of four they fill.
    static float leaf_cost(int count) { return packet_cost * static_cast<float>((count + 3) / 4); }

    // Returns the split position, leaf_is_cheaper, or -1 when no axis
    // separates the centres. Ties go to the lower axis, then the lower bin,
    // so the tree depends on nothing but the input.
    int sah_split(const part& whole, int begin, int end, part& left, part& right) {
        const int count = end - begin;
        // Small nodes, which are most of them, need fewer bins.
        const int used_bins = std::min(bin_count, std::max(4, count));
        const __m128 last = _mm_set1_ps(static_cast<float>(used_bins - 1));
        alignas(16) float c_lo[4], c_hi[4], scale[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        _mm_store_ps(c_lo, whole.centres.lo);
        _mm_store_ps(c_hi, whole.centres.hi);
        for (int a = 0; a < 3; ++a) {
            const float extent = c_hi[a] - c_lo[a];
            if (extent > 0.0f) scale[a] = static_cast<float>(used_bins) / extent;
        }
        const __m128 scale_v = _mm_load_ps(scale);
        const __m128 lo_v = whole.centres.lo;

        bins total;
        if (threads > 1 && count >= parallel_bin_threshold) {
            std::vector<bins> partial(static_cast<std::size_t>(threads));
            parallel_for(threads, threads, [&](int chunk) {
                const int b = begin + static_cast<int>(static_cast<long long>(count) * chunk / threads);
                const int e = begin + static_cast<int>(static_cast<long long>(count) * (chunk + 1) / threads);
                bin_run(b, e, lo_v, scale_v, last, partial[static_cast<std::size_t>(chunk)]);
            });
            for (const bins& p : partial) total.merge(p);
        } else {
            bin_run(begin, end, lo_v, scale_v, last, total);
        }

        float best_cost = std::numeric_limits<float>::infinity();
        int best_axis = -1, best_bin = -1;
        for (int a = 0; a < 3; ++a) {
            if (!(scale[a] > 0.0f)) continue;
            float right_cost[bin_count];
            vbox acc;
            int n = 0;
            for (int b = used_bins - 1; b > 0; --b) {
                acc.grow(total.bounds[a][b]);
                n += total.count[a][b];
                right_cost[b] = half_area(acc) * leaf_cost(n);
            }
            acc = vbox();
            n = 0;
            for (int b = 0; b < used_bins - 1; ++b) {
                acc.grow(total.bounds[a][b]);
                n += total.count[a][b];
                if (n == 0 || n == count) continue;
                const float cost = half_area(acc) * leaf_cost(n) + right_cost[b + 1];
                if (cost < best_cost) {
                    best_cost = cost;
                    best_axis = a;
                    best_bin = b;
                }
            }
        }
        if (best_axis < 0) return -1;

        const float area = half_area(whole.bounds);
        const float split_cost = node_cost + (area > 0.0f ? best_cost / area : leaf_cost(count));
        if (count <= max_leaf_size && leaf_cost(count) <= split_cost) return leaf_is_cheaper;

        // In place, from both ends; every box is classified exactly once.
        auto goes_left = [&](int k) {
            int side[4];
            bins_of(centre(boxes[k]), lo_v, scale_v, last, side);
            return side[best_axis] <= best_bin;
        };
        int l = begin, r = end - 1;
        for (;;) {
            while (l <= r && goes_left(l)) left.take(boxes[l++]);
            while (l <= r && !goes_left(r)) right.take(boxes[r--]);
            if (l >= r) break;
            std::swap(boxes[l], boxes[r]);
            left.take(boxes[l++]);
            right.take(boxes[r--]);
        }
        return l;
    }
};

}  // namespace

int build_sah(box_list& boxes, int begin, int end, const part& whole, int depth, int threads, node_arena& nodes,
              int slot) {
    builder b{boxes, nodes, threads};
    return b.build(begin, end, depth, whole, slot);
}
