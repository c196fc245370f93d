#include <emmintrin.h>

#include <algorithm>
#include <limits>
#include <new>
#include <thread>

#include "bvh/build/stages.h"
#include "util/parallel_for.h"

namespace bvh_build {

namespace {

constexpr int bin_count = config::bin_count;
constexpr int max_leaf_size = config::max_leaf_size;

// Binned surface area heuristic over one array of boxes that every split
// partitions in place.
struct builder {
    box_list& boxes;
    binary_list& nodes;
    const config& c;
    int threads;  // this builder may keep this many threads busy, itself included

    int add(const binary_node& n) {
        nodes.push_back(n);
        return static_cast<int>(nodes.size()) - 1;
    }

    // A leaf holds triangles of one kind: a run of both becomes two leaves
    // under one node, the single-precision ones first.
    int leaf(int begin, int end, const part& whole) {
        const int count = end - begin;
        auto is_regular = [](const vbox& b) { return !tag_of(b).is_sliver(); };
        const int mid = static_cast<int>(std::partition(&boxes[begin], &boxes[begin] + count, is_regular) - &boxes[0]);
        if (mid == begin || mid == end) return add(binary_node::leaf(whole.bounds, {begin, end}));
        part left, right;
        for (int k = begin; k < mid; ++k) left.take(boxes[k]);
        for (int k = mid; k < end; ++k) right.take(boxes[k]);
        const int index = add(binary_node::inner(whole.bounds, 0, 0));
        const int l = add(binary_node::leaf(left.bounds, {begin, mid}));
        const int r = add(binary_node::leaf(right.bounds, {mid, end}));
        nodes[static_cast<std::size_t>(index)].link(l, r);
        return index;
    }

    int build(int begin, int end, int depth, const part& whole) {
        const int count = end - begin;
        // One packet's worth is a leaf: no split can cost less than testing it.
        if (count <= 4) return leaf(begin, end, whole);

        part left, right;
        int mid = -1;
        if (depth < config::sah_depth_limit) {
            mid = sah_split(whole, begin, end, left, right);
            if (mid == leaf_is_cheaper) return leaf(begin, end, whole);
        }
        if (mid < 0) {
            if (count <= max_leaf_size) return leaf(begin, end, whole);
            mid = begin + count / 2;  // no usable split: halve in the current order
            for (int k = begin; k < mid; ++k) left.take(boxes[k]);
            for (int k = mid; k < end; ++k) right.take(boxes[k]);
        }

        const int index = add(binary_node::inner(whole.bounds, 0, 0));  // linked below
        int l = -1, r = -1;
        // Two threads only pay when both sides are large: a far outlier
        // split off alone would leave one thread with all the work.
        if (threads > 1 && std::min(mid - begin, end - mid) >= c.min_parallel_items) {
            // The two sides own disjoint runs of the array. A helper builds
            // the left one into its own list meanwhile, spliced in after.
            binary_list helper_nodes;
            builder helper{boxes, helper_nodes, c, threads / 2};
            threads -= helper.threads;
            util::parallel_for({0, 2}, 2, 2, [&](int side, util::index_range) {
                if (side == 0)
                    l = helper.build(begin, mid, depth + 1, left);
                else
                    r = build(mid, end, depth + 1, right);
            });
            threads += helper.threads;
            l += splice(nodes, helper_nodes);
        } else {
            l = build(begin, mid, depth + 1, left);
            r = build(mid, end, depth + 1, right);
        }
        nodes[static_cast<std::size_t>(index)].link(l, r);
        return index;
    }

    static constexpr int leaf_is_cheaper = -2;

    // Per bin, the box and count of each axis's binning; only the first
    // `used` bins are set up, as small nodes use few.
    struct bins {
        // A box left unset until its bin is used: most nodes are small and
        // set up a handful of the sixteen.
        union lazy_box {
            vbox box;
            lazy_box() {}
        };

        int used = 0;
        lazy_box box[bin_count][3];
        int count[bin_count][3];

        explicit bins(int u) : used(u) {
            for (int b = 0; b < used; ++b) {
                for (int a = 0; a < 3; ++a) {
                    count[b][a] = 0;
                    ::new (static_cast<void*>(&box[b][a].box)) vbox;
                }
            }
        }
        vbox& bounds(int b, int a) { return box[b][a].box; }
        const vbox& bounds(int b, int a) const { return box[b][a].box; }
        void merge(const bins& other) {
            for (int b = 0; b < used; ++b) {
                for (int a = 0; a < 3; ++a) {
                    count[b][a] += other.count[b][a];
                    bounds(b, a).grow(other.bounds(b, a));
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
            ++into.count[k[a]][a];
            into.bounds(k[a], a).grow(b);
        }
    }

    // Neighbours in the array tend to share bins, and each bin update waits
    // for the one before it in the same bin: on long runs, two sets of bins
    // take turns, so those waits overlap.
    void bin_run(int begin, int end, __m128 lo, __m128 scale, __m128 last, bins& into) const {
        int k = begin;
        if (end - begin >= 256) {
            bins other(into.used);
            for (; k + 1 < end; k += 2) {
                bin_one(boxes[k], lo, scale, last, into);
                bin_one(boxes[k + 1], lo, scale, last, other);
            }
            into.merge(other);
        }
        for (; k < end; ++k) bin_one(boxes[k], lo, scale, last, into);
    }

    // Leaves are priced by the packets of four they fill.
    static float leaf_cost(int count) { return config::packet_cost * static_cast<float>((count + 3) / 4); }

    // The boxes swept so far on each axis, and their counts; add() takes in
    // one more bin and returns, lane by lane, half the surface area of each
    // axis's box times the cost of a leaf of its count.
    struct sweep_state {
        vbox box[3];
        __m128i n = _mm_setzero_si128();

        __m128 add(const bins& from, int b) {
            alignas(16) std::int32_t counts[4] = {from.count[b][0], from.count[b][1], from.count[b][2], 0};
            n = _mm_add_epi32(n, _mm_load_si128(reinterpret_cast<const __m128i*>(counts)));
            __m128 d[4];
            for (int a = 0; a < 3; ++a) {
                box[a].grow(from.bounds(b, a));
                d[a] = _mm_max_ps(_mm_sub_ps(box[a].hi, without_tag(box[a].lo)), _mm_setzero_ps());
            }
            d[3] = _mm_setzero_ps();
            _MM_TRANSPOSE4_PS(d[0], d[1], d[2], d[3]);  // now x, y, z extents of the three axes' boxes
            const __m128 area = _mm_add_ps(_mm_add_ps(_mm_mul_ps(d[0], d[1]), _mm_mul_ps(d[1], d[2])), _mm_mul_ps(d[2], d[0]));
            const __m128 packets = _mm_cvtepi32_ps(_mm_srli_epi32(_mm_add_epi32(n, _mm_set1_epi32(3)), 2));
            return _mm_mul_ps(area, _mm_mul_ps(packets, _mm_set1_ps(config::packet_cost)));
        }
    };

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

        bins total(used_bins);
        if (threads > 1 && count >= c.min_parallel_binning) {
            std::vector<bins> partial(static_cast<std::size_t>(threads), bins(used_bins));
            util::parallel_for({begin, end}, threads, threads, [&](int chunk, util::index_range run) {
                bin_run(run.begin, run.end, lo_v, scale_v, last, partial[static_cast<std::size_t>(chunk)]);
            });
            for (const bins& p : partial) total.merge(p);
        } else {
            bin_run(begin, end, lo_v, scale_v, last, total);
        }

        // The sweeps price all three axes at once, one lane each.
        const __m128i axes_in_use = _mm_castps_si128(_mm_cmpgt_ps(scale_v, _mm_setzero_ps()));
        __m128 right_cost[bin_count];
        sweep_state acc;
        for (int b = used_bins - 1; b > 0; --b) right_cost[b] = acc.add(total, b);
        acc = sweep_state();
        __m128 best_v = _mm_set1_ps(std::numeric_limits<float>::infinity());
        __m128i best_bin_v = _mm_set1_epi32(-1);
        const __m128i everything = _mm_set1_epi32(count);
        for (int b = 0; b < used_bins - 1; ++b) {
            const __m128 cost = _mm_add_ps(acc.add(total, b), right_cost[b + 1]);
            // A split must leave something on each side, on an axis with extent.
            const __m128i some = _mm_andnot_si128(_mm_or_si128(_mm_cmpeq_epi32(acc.n, _mm_setzero_si128()),
                                                                _mm_cmpeq_epi32(acc.n, everything)),
                                                  axes_in_use);
            const __m128i better = _mm_and_si128(_mm_castps_si128(_mm_cmplt_ps(cost, best_v)), some);
            best_v = _mm_or_ps(_mm_and_ps(_mm_castsi128_ps(better), cost), _mm_andnot_ps(_mm_castsi128_ps(better), best_v));
            best_bin_v = _mm_or_si128(_mm_and_si128(better, _mm_set1_epi32(b)), _mm_andnot_si128(better, best_bin_v));
        }
        alignas(16) float best_costs[4];
        alignas(16) std::int32_t best_bins[4];
        _mm_store_ps(best_costs, best_v);
        _mm_store_si128(reinterpret_cast<__m128i*>(best_bins), best_bin_v);
        float best_cost = std::numeric_limits<float>::infinity();
        int best_axis = -1, best_bin = -1;
        for (int a = 0; a < 3; ++a) {  // ties go to the lower axis
            if (best_bins[a] >= 0 && best_costs[a] < best_cost) {
                best_cost = best_costs[a];
                best_axis = a;
                best_bin = best_bins[a];
            }
        }
        if (best_axis < 0) return -1;

        const float area = half_area(whole.bounds);
        const float split_cost = config::node_cost + (area > 0.0f ? best_cost / area : leaf_cost(count));
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

int build_sah(box_list& boxes, util::index_range run, const part& whole, int depth, int threads, const config& c,
              node_arena& nodes) {
    // Each thread keeps one list for the subtrees it builds, so that after
    // the first few the list's memory is warm.
    thread_local binary_list scratch;
    scratch.clear();
    builder b{boxes, scratch, c, threads};
    const int root = b.build(run.begin, run.end, depth, whole);
    return nodes.take(scratch, root);
}

}  // namespace bvh_build
