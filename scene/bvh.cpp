#include "scene/bvh.h"

#include <xmmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>
#include <thread>

#include "scene/triangle.h"

// Exactness rests on one promise: a box is never rejected while it holds a
// triangle that triangle::intersect would accept. That test works in float,
// so the point it accepts, O + t·D, can lie a little off the triangle: its
// plane distance t carries the rounding of two dot products and a division
// (at worst a few ulps of |O|, |vertex| and t), and its barycentric solve
// magnifies rounding by the condition number of the edge frame. Each
// triangle's box is widened by its own share (shape, magnitude of its
// corners) at build time; each ray widens every slab by its share (its
// origin's magnitude, the box coordinates, the best distance so far) at
// traversal time, which also swallows the rounding of the slab test itself.
// The constants carry a generous safety factor over first-order bounds: on
// 1.6 million hits of lone triangles of every shape and scale, fired at
// from near and far, at corners and grazing, no hit point used more than 4%
// of its margin. A margin this thin still costs the traversal next to nothing.

namespace {

constexpr float unit_roundoff = 0x1p-24f;
constexpr double shape_factor = 256.0;     // × condition × edge lengths
constexpr double magnitude_factor = 64.0;  // × largest corner coordinate
constexpr float ray_fixed_factor = 64.0f;  // × (largest box coordinate + largest origin coordinate)
constexpr float ray_distance_factor = 16.0f;  // × best distance so far

// Beyond this the first-order error bound of the barycentric solve is no
// longer trustworthy: such slivers skip the hierarchy and meet every ray.
constexpr double max_condition = 1e5;

constexpr int bin_count = 16;
constexpr int max_leaf_size = 8;        // at most 16: the leaf code keeps count - 1 in four bits
constexpr int sah_depth_limit = 40;     // below this, split at the median to bound the depth
constexpr float traversal_cost = 1.0f;  // one four-box test, in units of one triangle test
constexpr float triangle_cost = 1.0f;
constexpr int parallel_threshold = 4096;  // smaller subtrees are not worth a thread
constexpr int stack_size = 256;         // > 3 · the deepest possible tree

constexpr std::int32_t leaf_flag = std::numeric_limits<std::int32_t>::min();

// Boxes with x, y, z in the first three lanes of a vector (the fourth is
// carried along unused), so the builder grows them two instructions at a time.
struct vbox {
    __m128 lo = _mm_set1_ps(std::numeric_limits<float>::infinity());
    __m128 hi = _mm_set1_ps(-std::numeric_limits<float>::infinity());

    void grow(const vbox& other) {
        lo = _mm_min_ps(lo, other.lo);
        hi = _mm_max_ps(hi, other.hi);
    }
    void grow(__m128 point) {
        lo = _mm_min_ps(lo, point);
        hi = _mm_max_ps(hi, point);
    }
};

float half_area(const vbox& b) {
    const __m128 d = _mm_max_ps(_mm_sub_ps(b.hi, b.lo), _mm_setzero_ps());  // an empty box has none
    const __m128 p = _mm_mul_ps(d, _mm_shuffle_ps(d, d, _MM_SHUFFLE(3, 0, 2, 1)));  // xy, yz, zx
    alignas(16) float v[4];
    _mm_store_ps(v, p);
    return v[0] + v[1] + v[2];
}

float component(const vector3& v, int axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }

// Rounds a double outwards to the float at or below (at or above) it.
float round_down(double x) {
    float f = static_cast<float>(x);
    if (static_cast<double>(f) > x) f = std::nextafter(f, -std::numeric_limits<float>::infinity());
    return f;
}

float round_up(double x) {
    float f = static_cast<float>(x);
    if (static_cast<double>(f) < x) f = std::nextafter(f, std::numeric_limits<float>::infinity());
    return f;
}

enum class placement { skip, loose, boxed };

// Where a triangle goes, and for a boxed one the box that holds every point
// its own test can accept.
placement place(const triangle& t, float lo_out[3], float hi_out[3]) {
    if (t.normal.x == 0.0f && t.normal.y == 0.0f && t.normal.z == 0.0f) return placement::skip;
    double largest = 0.0;
    for (int i = 0; i < 3; ++i) {
        for (int a = 0; a < 3; ++a) {
            const double c = component(t.vertex[i], a);
            if (!std::isfinite(c)) return placement::loose;
            largest = std::max(largest, std::fabs(c));
        }
    }
    const double d11 = t.dot11, d22 = t.dot22, d12 = t.dot12;
    const double det = d11 * d22 - d12 * d12;
    const double condition = d11 * d22 / det;
    if (!(det > 0.0) || !(condition <= max_condition)) return placement::loose;

    const double margin = static_cast<double>(unit_roundoff) *
                          (shape_factor * condition * (std::sqrt(d11) + std::sqrt(d22)) + magnitude_factor * largest);
    for (int a = 0; a < 3; ++a) {
        double lo = component(t.vertex[0], a), hi = lo;
        for (int i = 1; i < 3; ++i) {
            lo = std::min(lo, static_cast<double>(component(t.vertex[i], a)));
            hi = std::max(hi, static_cast<double>(component(t.vertex[i], a)));
        }
        lo_out[a] = round_down(lo - margin);
        hi_out[a] = round_up(hi + margin);
    }
    return placement::boxed;
}

// The binary tree the heuristic builds; collapsed into four-wide nodes
// after. Kept to 32 bytes: on a machine where every fresh page costs a
// fault, the builder's memory is a good part of its time.
struct binary_node {
    float lo[3];
    float hi[3];
    std::int32_t a;  // inner: the two children; leaf: a = -1 - first, b = count
    std::int32_t b;

    bool leaf() const { return a < 0; }
    vbox bounds() const {
        vbox v;
        v.lo = _mm_setr_ps(lo[0], lo[1], lo[2], 0.0f);
        v.hi = _mm_setr_ps(hi[0], hi[1], hi[2], 0.0f);
        return v;
    }
};

// Binned surface area heuristic over the triangles' boxes, kept in one array
// that every split partitions in place, so that a subtree's triangles are
// always one contiguous run (and the leaves need no list of their own).
using box_list = std::vector<vbox, large_allocator<vbox>>;
using id_list = std::vector<std::uint32_t, large_allocator<std::uint32_t>>;
using binary_list = std::vector<binary_node, large_allocator<binary_node>>;

struct builder {
    box_list& boxes;
    id_list& ids;
    binary_list nodes;
    int threads;  // this builder may keep this many threads busy, itself included

    builder(box_list& b, id_list& i, int t) : boxes(b), ids(i), threads(t) {}

    struct part {
        vbox bounds, centres;  // centres are doubled: lo + hi
    };

    static __m128 centre(const vbox& b) { return _mm_add_ps(b.lo, b.hi); }

    part measure(int begin, int end) const {
        part p;
        for (int k = begin; k < end; ++k) {
            p.bounds.grow(boxes[k]);
            p.centres.grow(centre(boxes[k]));
        }
        return p;
    }

    int add(const vbox& bounds, std::int32_t a, std::int32_t b) {
        alignas(16) float lo[4], hi[4];
        _mm_store_ps(lo, bounds.lo);
        _mm_store_ps(hi, bounds.hi);
        nodes.push_back({{lo[0], lo[1], lo[2]}, {hi[0], hi[1], hi[2]}, a, b});
        return static_cast<int>(nodes.size()) - 1;
    }

    int build(int begin, int end, int depth, const part& whole) {
        const int count = end - begin;
        if (count <= 1) return add(whole.bounds, -1 - begin, count);

        part left, right;
        int mid = -1;
        if (depth < sah_depth_limit) {
            mid = sah_split(whole, begin, end, left, right);
            if (mid == leaf_is_cheaper) return add(whole.bounds, -1 - begin, count);
        }
        if (mid < 0) {
            if (count <= max_leaf_size) return add(whole.bounds, -1 - begin, count);
            mid = begin + count / 2;  // no usable split: halve in the current order
            left = measure(begin, mid);
            right = measure(mid, end);
        }

        const int index = add(whole.bounds, 0, 0);
        int l = -1, r = -1;
        if (threads > 1 && count >= parallel_threshold) {
            // The two sides own disjoint runs of the arrays. A helper builds
            // the left one into its own nodes, spliced in after ours; the
            // collapse follows the links, so the tree does not depend on this.
            builder helper(boxes, ids, threads / 2);
            helper.nodes.reserve(2 * static_cast<std::size_t>(mid - begin));
            threads -= helper.threads;
            try {
                std::thread worker([&] { l = helper.build(begin, mid, depth + 1, left); });
                r = build(mid, end, depth + 1, right);
                worker.join();
            } catch (const std::system_error&) {  // no thread to be had: do it here
                if (r < 0) r = build(mid, end, depth + 1, right);
                l = helper.build(begin, mid, depth + 1, left);
            }
            const int offset = static_cast<int>(nodes.size());
            for (binary_node n : helper.nodes) {
                if (!n.leaf()) {
                    n.a += offset;
                    n.b += offset;
                }
                nodes.push_back(n);
            }
            l += offset;
        } else {
            l = build(begin, mid, depth + 1, left);
            r = build(mid, end, depth + 1, right);
        }
        nodes[index].a = l;
        nodes[index].b = r;
        return index;
    }

    static constexpr int leaf_is_cheaper = -2;

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

    // Returns the split position, leaf_is_cheaper, or -1 when no axis
    // separates the centres. Ties go to the lower axis, then the lower bin,
    // so the tree depends on nothing but the input.
    int sah_split(const part& whole, int begin, int end, part& left, part& right) {
        const int count = end - begin;
        // Small nodes, which are most of them, need fewer bins.
        const int bins = std::min(bin_count, std::max(4, count));
        const __m128 last = _mm_set1_ps(static_cast<float>(bins - 1));
        alignas(16) float c_lo[4], c_hi[4], scale[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        _mm_store_ps(c_lo, whole.centres.lo);
        _mm_store_ps(c_hi, whole.centres.hi);
        for (int a = 0; a < 3; ++a) {
            const float extent = c_hi[a] - c_lo[a];
            if (extent > 0.0f) scale[a] = static_cast<float>(bins) / extent;
        }
        const __m128 scale_v = _mm_load_ps(scale);
        const __m128 lo_v = whole.centres.lo;

        int bin_counts[3][bin_count] = {};
        vbox bin_bounds[3][bin_count];
        for (int k = begin; k < end; ++k) {
            int b[4];
            bins_of(centre(boxes[k]), lo_v, scale_v, last, b);
            for (int a = 0; a < 3; ++a) {
                ++bin_counts[a][b[a]];
                bin_bounds[a][b[a]].grow(boxes[k]);
            }
        }

        float best_cost = std::numeric_limits<float>::infinity();
        int best_axis = -1, best_bin = -1;
        for (int a = 0; a < 3; ++a) {
            if (!(scale[a] > 0.0f)) continue;
            float right_cost[bin_count];
            vbox acc;
            int n = 0;
            for (int b = bins - 1; b > 0; --b) {
                acc.grow(bin_bounds[a][b]);
                n += bin_counts[a][b];
                right_cost[b] = half_area(acc) * n;
            }
            acc = vbox();
            n = 0;
            for (int b = 0; b < bins - 1; ++b) {
                acc.grow(bin_bounds[a][b]);
                n += bin_counts[a][b];
                if (n == 0 || n == count) continue;
                const float cost = half_area(acc) * n + right_cost[b + 1];
                if (cost < best_cost) {
                    best_cost = cost;
                    best_axis = a;
                    best_bin = b;
                }
            }
        }
        if (best_axis < 0) return -1;

        const float area = half_area(whole.bounds);
        const float split_cost = traversal_cost + triangle_cost * (area > 0.0f ? best_cost / area : count);
        if (count <= max_leaf_size && triangle_cost * count <= split_cost) return leaf_is_cheaper;

        // In place, from both ends; every box is classified exactly once.
        auto goes_left = [&](int k) {
            int side[4];
            bins_of(centre(boxes[k]), lo_v, scale_v, last, side);
            return side[best_axis] <= best_bin;
        };
        auto take = [&](part& p, int k) {
            p.bounds.grow(boxes[k]);
            p.centres.grow(centre(boxes[k]));
        };
        int l = begin, r = end - 1;
        for (;;) {
            while (l <= r && goes_left(l)) take(left, l++);
            while (l <= r && !goes_left(r)) take(right, r--);
            if (l >= r) break;
            std::swap(boxes[l], boxes[r]);
            std::swap(ids[l], ids[r]);
            take(left, l++);
            take(right, r--);
        }
        return l;
    }
};

// Folds the binary tree into four-wide nodes: each node adopts the children
// of its largest inner children until it has four.
struct collapser {
    const binary_list& in;
    decltype(bvh::nodes)& out;

    static std::int32_t leaf_code(const binary_node& n) {
        return leaf_flag | ((-1 - n.a) << 4) | (n.b - 1);
    }

    int emit(const int* kids_in, int kid_count_in) {
        int kids[4];
        int kid_count = kid_count_in;
        std::copy(kids_in, kids_in + kid_count_in, kids);
        while (kid_count < 4) {
            int widest = -1;
            float widest_area = -1.0f;
            for (int i = 0; i < kid_count; ++i) {
                const binary_node& n = in[kids[i]];
                if (n.leaf()) continue;
                const float area = half_area(n.bounds());
                if (area > widest_area) {
                    widest_area = area;
                    widest = i;
                }
            }
            if (widest < 0) break;
            const binary_node& n = in[kids[widest]];
            kids[widest] = n.a;
            kids[kid_count++] = n.b;
        }

        const int index = static_cast<int>(out.size());
        out.emplace_back();
        std::int32_t codes[4];
        for (int i = 0; i < kid_count; ++i) {
            const binary_node& n = in[kids[i]];
            if (n.leaf()) {
                codes[i] = leaf_code(n);
            } else {
                const int pair[2] = {n.a, n.b};
                codes[i] = emit(pair, 2);
            }
        }
        bvh_node& node = out[index];
        for (int i = 0; i < 4; ++i) {
            // Unused lanes get an empty box; child_count masks them anyway.
            const vbox b = i < kid_count ? in[kids[i]].bounds() : vbox();
            alignas(16) float lo[4], hi[4];
            _mm_store_ps(lo, b.lo);
            _mm_store_ps(hi, b.hi);
            for (int a = 0; a < 3; ++a) {
                node.bounds[a][i] = lo[a];
                node.bounds[3 + a][i] = hi[a];
            }
            node.child[i] = i < kid_count ? codes[i] : 0;
        }
        node.child_count = kid_count;
        return index;
    }
};

}  // namespace

void build_bvh(bvh& tree, triangle* const* triangles, int count, int threads) {
    tree = bvh();
    if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    box_list boxes;
    id_list ids;
    boxes.reserve(static_cast<std::size_t>(std::max(count, 0)));
    ids.reserve(static_cast<std::size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        alignas(16) float lo[4] = {0.0f, 0.0f, 0.0f, 0.0f}, hi[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        placement where = place(*triangles[i], lo, hi);
        // The leaf code has room for 2^27 leaf entries.
        if (where == placement::boxed && boxes.size() >= (std::size_t{1} << 27)) where = placement::loose;
        if (where == placement::loose) {
            tree.loose_triangles.push_back(triangles[i]);
            tree.loose_index.push_back(i);
        } else if (where == placement::boxed) {
            vbox v;
            v.lo = _mm_load_ps(lo);
            v.hi = _mm_load_ps(hi);
            boxes.push_back(v);
            ids.push_back(static_cast<std::uint32_t>(i));
            for (int a = 0; a < 3; ++a) tree.extent = std::max({tree.extent, std::fabs(lo[a]), std::fabs(hi[a])});
        }
    }
    if (boxes.empty()) return;

    const int n = static_cast<int>(boxes.size());
    builder b(boxes, ids, threads);
    b.nodes.reserve(2 * boxes.size());  // a binary tree over n leaves has fewer than 2n nodes
    const int root = b.build(0, n, 0, b.measure(0, n));
    // Free the boxes before the final nodes are made, so that those can
    // reuse the pages instead of faulting in fresh ones.
    box_list().swap(boxes);

    tree.leaf_triangles.resize(ids.size());
    for (std::size_t k = 0; k < ids.size(); ++k) tree.leaf_triangles[k] = triangles[ids[k]];
    tree.leaf_index.assign(ids.begin(), ids.end());
    tree.leaf_records.resize(ids.size());
    for (std::size_t k = 0; k < ids.size(); ++k) {
        const triangle& t = *triangles[ids[k]];
        leaf_record& g = tree.leaf_records[k];
        g.normal = t.normal;
        g.offset = t.offset;
        g.vertex[0] = t.vertex[0];
        g.edge1 = t.edge1;
        g.edge2 = t.edge2;
        g.dot11 = t.dot11;
        g.dot22 = t.dot22;
        g.dot12 = t.dot12;
    }
    id_list().swap(ids);

    tree.nodes.reserve(b.nodes.size() / 3 + 1);
    collapser c{b.nodes, tree.nodes};
    if (b.nodes[root].leaf()) {
        c.emit(&root, 1);  // a lone leaf still sits under a root node
    } else {
        const int pair[2] = {b.nodes[root].a, b.nodes[root].b};
        c.emit(pair, 2);
    }
}

int intersect_bvh(const bvh& tree, const ray& r, float& distance, int& hit_index) {
    float best = distance;
    // Nothing can be both beyond 0 and nearer than this (a NaN included).
    if (!(best > 0.0f)) return hit_none;
    int best_index = -1;
    int best_code = hit_none;
    // What the triangles are asked with: the incoming distance until
    // something is found, then the float just above the best, so that a hit
    // at exactly the best distance shows up and the lower index can win the
    // tie (best is then positive and finite).
    float limit = best;

    // `index` is only looked at on a hit, so the leaves read it only then.
    auto test = [&](const auto& t, auto index_of) {
        float d = limit;
        const int code = intersect_triangle(t, r, d);
        if (code == hit_none) return false;
        const std::int32_t index = index_of();
        if (best_index >= 0 && !(d < best) && index > best_index) return false;
        best = d;
        best_index = index;
        best_code = code;
        std::uint32_t bits;
        std::memcpy(&bits, &best, sizeof bits);
        ++bits;
        std::memcpy(&limit, &bits, sizeof limit);
        return true;
    };

    if (!tree.nodes.empty()) {
        const float o[3] = {r.origin.x, r.origin.y, r.origin.z};
        // A zero component gives an infinite reciprocal; the slab arithmetic
        // then yields infinities or NaNs, and a NaN bound is ignored below
        // (it never rejects), so such rays stay conservative.
        const float inv[3] = {1.0f / r.direction.x, 1.0f / r.direction.y, 1.0f / r.direction.z};
        bool negative[3];
        int near_row[3], far_row[3];
        for (int a = 0; a < 3; ++a) {
            negative[a] = std::signbit(inv[a]);
            near_row[a] = negative[a] ? 3 + a : a;
            far_row[a] = negative[a] ? a : 3 + a;
        }
        const float origin_size = std::max({std::fabs(o[0]), std::fabs(o[1]), std::fabs(o[2])});
        const float fixed_margin = unit_roundoff * ray_fixed_factor * (tree.extent + origin_size);
        const __m128 inv_x = _mm_set1_ps(inv[0]), inv_y = _mm_set1_ps(inv[1]), inv_z = _mm_set1_ps(inv[2]);
        const __m128 zero = _mm_setzero_ps();
        __m128 near_shift[3], far_shift[3], best_v;

        // Near plane lo - m (hi + m when the direction is negative), far
        // plane hi + m (lo - m): the slab distances as box·inv - shift.
        auto widen = [&] {
            const float m = fixed_margin + unit_roundoff * ray_distance_factor * best;
            for (int a = 0; a < 3; ++a) {
                const float s = negative[a] ? -m : m;
                near_shift[a] = _mm_set1_ps((o[a] + s) * inv[a]);
                far_shift[a] = _mm_set1_ps((o[a] - s) * inv[a]);
            }
            best_v = _mm_set1_ps(best);
        };
        widen();

        struct entry {
            std::int32_t child;
            float distance;
        };
        entry stack[stack_size];
        int top = 0;
        std::int32_t current = 0;

        for (;;) {
            if (current >= 0) {
                const bvh_node& n = tree.nodes[current];
                // max/min keep their second operand when the first is NaN.
                const __m128 near_x = _mm_sub_ps(_mm_mul_ps(_mm_load_ps(n.bounds[near_row[0]]), inv_x), near_shift[0]);
                const __m128 near_y = _mm_sub_ps(_mm_mul_ps(_mm_load_ps(n.bounds[near_row[1]]), inv_y), near_shift[1]);
                const __m128 near_z = _mm_sub_ps(_mm_mul_ps(_mm_load_ps(n.bounds[near_row[2]]), inv_z), near_shift[2]);
                const __m128 far_x = _mm_sub_ps(_mm_mul_ps(_mm_load_ps(n.bounds[far_row[0]]), inv_x), far_shift[0]);
                const __m128 far_y = _mm_sub_ps(_mm_mul_ps(_mm_load_ps(n.bounds[far_row[1]]), inv_y), far_shift[1]);
                const __m128 far_z = _mm_sub_ps(_mm_mul_ps(_mm_load_ps(n.bounds[far_row[2]]), inv_z), far_shift[2]);
                const __m128 enter = _mm_max_ps(near_z, _mm_max_ps(near_y, _mm_max_ps(near_x, zero)));
                const __m128 leave = _mm_min_ps(far_z, _mm_min_ps(far_y, _mm_min_ps(far_x, best_v)));
                int mask = _mm_movemask_ps(_mm_cmple_ps(enter, leave)) & ((1 << n.child_count) - 1);
                if (mask != 0) {
                    // Nearest box first, the others onto the stack; the order
                    // only saves work, the ranking by (distance, index) does
                    // not depend on it.
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
                        stack[top++] = {n.child[second], entries[second]};
                        current = n.child[first];
                        continue;
                    }
                    int order[4] = {first, second, 0, 0}, hits = 2;
                    if (entries[second] < entries[first]) std::swap(order[0], order[1]);
                    while (mask != 0) {
                        const int lane = __builtin_ctz(mask);
                        mask &= mask - 1;
                        int k = hits++;
                        while (k > 0 && entries[order[k - 1]] > entries[lane]) {
                            order[k] = order[k - 1];
                            --k;
                        }
                        order[k] = lane;
                    }
                    for (int k = hits - 1; k > 0; --k) stack[top++] = {n.child[order[k]], entries[order[k]]};
                    current = n.child[order[0]];
                    continue;
                }
            } else {
                const std::int32_t first = (current & ~leaf_flag) >> 4;
                const std::int32_t end = first + (current & 15) + 1;
                bool improved = false;
                for (std::int32_t k = first; k < end; ++k)
                    improved |= test(tree.leaf_records[k], [&] { return tree.leaf_index[k]; });
                if (improved) widen();
            }
            // Next box: entries were computed with a margin at least as wide
            // as the current one, so comparing them with the new best is safe.
            for (;;) {
                if (top == 0) goto done;
                const entry e = stack[--top];
                if (e.distance <= best) {
                    current = e.child;
                    break;
                }
            }
        }
    }
done:
    // Last, when the bound is as tight as it gets, so that most of them stop
    // at the distance check.
    for (std::size_t k = 0; k < tree.loose_triangles.size(); ++k) test(*tree.loose_triangles[k], [&] { return tree.loose_index[k]; });
    if (best_index < 0) return hit_none;
    distance = best;
    hit_index = best_index;
    return best_code;
}
