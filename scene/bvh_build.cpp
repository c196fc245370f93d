#include <xmmintrin.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <thread>

#include "scene/bvh.h"
#include "scene/bvh_bounds.h"
#include "scene/parallel_for.h"

// The build: every triangle that can be hit gets its reach box (bvh_bounds.h);
// a binned surface area heuristic splits those boxes into a binary tree,
// partitioning one array in place so that each subtree's triangles are one
// contiguous run; the binary tree is folded into four-wide nodes, in depth-
// first order; last, the leaves' packets and sliver records are filled in
// that same order, so a leaf's triangles sit side by side in memory.

namespace {

constexpr int bin_count = 16;
constexpr int max_leaf_size = 8;
static_assert(max_leaf_size <= bvh_child::max_length, "a leaf of slivers names one record per triangle");
static_assert((max_leaf_size + 3) / 4 <= bvh_child::max_length, "a leaf of packets names one per four triangles");
constexpr int sah_depth_limit = 64;     // below this, split at the median to bound the depth
constexpr float node_cost = 1.0f;       // one four-box test
constexpr float packet_cost = 1.0f;     // one four-triangle test
constexpr int parallel_threshold = 4096;       // smaller subtrees are not worth a thread
constexpr int parallel_bin_threshold = 1 << 17;  // nor is binning fewer boxes on several

// A box with x, y, z in the first three lanes. In a triangle's box the
// fourth lane of `lo` carries its tag: its index, with sliver_tag set for a
// sliver. Growing boxes leaves garbage there, which nothing reads.
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

constexpr std::uint32_t sliver_tag = std::uint32_t{1} << 31;

std::uint32_t tag_of(const vbox& b) {
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_castps_si128(_mm_shuffle_ps(b.lo, b.lo, 0xff))));
}

float half_area(const vbox& b) {
    const __m128 d = _mm_max_ps(_mm_sub_ps(b.hi, b.lo), _mm_setzero_ps());  // an empty box has none
    const __m128 p = _mm_mul_ps(d, _mm_shuffle_ps(d, d, _MM_SHUFFLE(3, 0, 2, 1)));  // xy, yz, zx
    alignas(16) float v[4];
    _mm_store_ps(v, p);
    return v[0] + v[1] + v[2];
}

__m128 centre(const vbox& b) { return _mm_add_ps(b.lo, b.hi); }  // doubled

using box_list = std::vector<vbox, large_allocator<vbox>>;

// The bounds of a run of boxes and of their (doubled) centres.
struct part {
    vbox bounds, centres;

    void take(const vbox& b) {
        bounds.grow(b);
        centres.grow(centre(b));
    }
    void take(const part& p) {
        bounds.grow(p.bounds);
        centres.grow(p.centres);
    }
};

// The binary tree the heuristic builds; folded into four-wide nodes after.
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
using binary_list = std::vector<binary_node, large_allocator<binary_node>>;

// Every triangle that can be hit, as its reach box, in mesh order.
box_list reach_boxes(const mesh& m, int threads, part* whole) {
    const int n = std::max(m.face_count, 0);
    box_list boxes(static_cast<std::size_t>(n));
    const int chunks = n >= parallel_threshold ? threads : 1;
    std::vector<int> kept(static_cast<std::size_t>(chunks), 0);
    std::vector<part> parts(static_cast<std::size_t>(chunks));
    parallel_for(chunks, chunks, [&](int chunk) {
        const int begin = static_cast<int>(static_cast<long long>(n) * chunk / chunks);
        const int end = static_cast<int>(static_cast<long long>(n) * (chunk + 1) / chunks);
        int out = begin;
        for (int k = begin; k < end; ++k) {
            vector3 corner[3];
            for (int j = 0; j < 3; ++j) corner[j] = m.vertices[m.faces[k].vertex[j]];
            const triangle_kind kind = classify_triangle(corner, cross(corner[1] - corner[0], corner[2] - corner[0]));
            if (kind == triangle_kind::degenerate) continue;
            const box3 b = reach_box(corner, kind);
            const std::uint32_t tag = static_cast<std::uint32_t>(k) | (kind == triangle_kind::sliver ? sliver_tag : 0);
            float tag_bits;
            std::memcpy(&tag_bits, &tag, sizeof tag_bits);
            vbox& v = boxes[static_cast<std::size_t>(out++)];
            v.lo = _mm_setr_ps(b.lo[0], b.lo[1], b.lo[2], tag_bits);
            v.hi = _mm_setr_ps(b.hi[0], b.hi[1], b.hi[2], 0.0f);
            parts[static_cast<std::size_t>(chunk)].take(v);
        }
        kept[static_cast<std::size_t>(chunk)] = out - begin;
    });
    // Close the gaps the left-out triangles left, keeping mesh order.
    std::size_t size = 0;
    for (int chunk = 0; chunk < chunks; ++chunk) {
        const std::size_t begin = static_cast<std::size_t>(static_cast<long long>(n) * chunk / chunks);
        if (size != begin) std::memmove(&boxes[size], &boxes[begin], sizeof(vbox) * static_cast<std::size_t>(kept[chunk]));
        size += static_cast<std::size_t>(kept[chunk]);
        whole->take(parts[static_cast<std::size_t>(chunk)]);
    }
    boxes.resize(size);
    return boxes;
}

// Binned surface area heuristic over one array of boxes that every split
// partitions in place.
struct builder {
    box_list& boxes;
    binary_list nodes;
    int threads;  // this builder may keep this many threads busy, itself included

    builder(box_list& b, int t) : boxes(b), threads(t) {}

    int add(const vbox& bounds, std::int32_t a, std::int32_t b) {
        alignas(16) float lo[4], hi[4];
        _mm_store_ps(lo, bounds.lo);
        _mm_store_ps(hi, bounds.hi);
        nodes.push_back({{lo[0], lo[1], lo[2]}, {hi[0], hi[1], hi[2]}, a, b});
        return static_cast<int>(nodes.size()) - 1;
    }

    // A leaf holds triangles of one kind: a run of both becomes two leaves
    // under one node, the single-precision ones first.
    int leaf(int begin, int end, const part& whole) {
        const int count = end - begin;
        auto is_regular = [](const vbox& b) { return (tag_of(b) & sliver_tag) == 0; };
        const int mid = static_cast<int>(std::partition(&boxes[begin], &boxes[begin] + count, is_regular) - &boxes[0]);
        if (mid == begin || mid == end) return add(whole.bounds, -1 - begin, count);
        part left, right;
        for (int k = begin; k < mid; ++k) left.take(boxes[k]);
        for (int k = mid; k < end; ++k) right.take(boxes[k]);
        const int index = add(whole.bounds, 0, 0);
        const int l = add(left.bounds, -1 - begin, mid - begin);
        const int r = add(right.bounds, -1 - mid, end - mid);
        nodes[index].a = l;
        nodes[index].b = r;
        return index;
    }

    int build(int begin, int end, int depth, const part& whole) {
        const int count = end - begin;
        if (count <= 1) return leaf(begin, end, whole);

        part left, right;
        int mid = -1;
        if (depth < sah_depth_limit) {
            mid = sah_split(whole, begin, end, left, right);
            if (mid == leaf_is_cheaper) return leaf(begin, end, whole);
        }
        if (mid < 0) {
            if (count <= max_leaf_size) return leaf(begin, end, whole);
            mid = begin + count / 2;  // no usable split: halve in the current order
            for (int k = begin; k < mid; ++k) left.take(boxes[k]);
            for (int k = mid; k < end; ++k) right.take(boxes[k]);
        }

        const int index = add(whole.bounds, 0, 0);
        int l = -1, r = -1;
        if (threads > 1 && count >= parallel_threshold) {
            // The two sides own disjoint runs of the array. A helper builds
            // the left one into its own nodes, spliced in after ours; the
            // fold follows the links, so the tree does not depend on this.
            builder helper(boxes, threads / 2);
            helper.nodes.reserve(2 * static_cast<std::size_t>(mid - begin));
            threads -= helper.threads;
            parallel_for(2, 2, [&](int side) {
                if (side == 0)
                    l = helper.build(begin, mid, depth + 1, left);
                else
                    r = build(mid, end, depth + 1, right);
            });
            threads += helper.threads;
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

    void bin_run(int begin, int end, __m128 lo, __m128 scale, __m128 last, bins& into) const {
        for (int k = begin; k < end; ++k) {
            int b[4];
            bins_of(centre(boxes[k]), lo, scale, last, b);
            for (int a = 0; a < 3; ++a) {
                ++into.count[a][b[a]];
                into.bounds[a][b[a]].grow(boxes[k]);
            }
        }
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

// Folds the binary tree into four-wide nodes, depth first: each node adopts
// the children of its largest inner children until it has four. Leaves get
// their slots in the packet and sliver arrays in the same order; what goes
// in them is listed (triangle indices, -1 for an empty lane) and filled in
// afterwards.
struct folder {
    const binary_list& in;
    const box_list& boxes;
    decltype(bvh::nodes)& out;
    std::vector<std::int32_t, large_allocator<std::int32_t>> packet_lanes;  // four per packet
    std::vector<std::int32_t, large_allocator<std::int32_t>> sliver_faces;

    bvh_child leaf(const binary_node& n) {
        const int first = -1 - n.a, count = n.b;
        const bool slivers = (tag_of(boxes[static_cast<std::size_t>(first)]) & sliver_tag) != 0;
        const std::size_t slot = slivers ? sliver_faces.size() : packet_lanes.size() / 4;
        if (slot + static_cast<std::size_t>(count) > bvh_child::max_first)
            throw std::length_error("too many triangles for the hierarchy's leaves");
        for (int k = first; k < first + count; ++k) {
            const std::int32_t face = static_cast<std::int32_t>(tag_of(boxes[static_cast<std::size_t>(k)]) & ~sliver_tag);
            (slivers ? sliver_faces : packet_lanes).push_back(face);
        }
        if (slivers) return bvh_child::leaf(static_cast<std::uint32_t>(slot), count, true);
        while (packet_lanes.size() % 4 != 0) packet_lanes.push_back(-1);
        return bvh_child::leaf(static_cast<std::uint32_t>(slot), (count + 3) / 4, false);
    }

    int emit(const int* kids_in, int kid_count_in) {
        int kids[4];
        int kid_count = kid_count_in;
        std::copy(kids_in, kids_in + kid_count_in, kids);
        while (kid_count < 4) {
            int widest = -1;
            float widest_area = -1.0f;
            for (int i = 0; i < kid_count; ++i) {
                const binary_node& n = in[static_cast<std::size_t>(kids[i])];
                if (n.leaf()) continue;
                const float area = half_area(n.bounds());
                if (area > widest_area) {
                    widest_area = area;
                    widest = i;
                }
            }
            if (widest < 0) break;
            const binary_node& n = in[static_cast<std::size_t>(kids[widest])];
            kids[widest] = n.a;
            kids[kid_count++] = n.b;
        }

        const int index = static_cast<int>(out.size());
        out.emplace_back();
        bvh_child codes[4];
        for (int i = 0; i < kid_count; ++i) {
            const binary_node& n = in[static_cast<std::size_t>(kids[i])];
            if (n.leaf()) {
                codes[i] = leaf(n);
            } else {
                const int pair[2] = {n.a, n.b};
                codes[i] = bvh_child::node(static_cast<std::uint32_t>(emit(pair, 2)));
            }
        }
        bvh_node& node = out[static_cast<std::size_t>(index)];
        for (int i = 0; i < 4; ++i) {
            // Unused lanes get an empty box; child_count masks them anyway.
            const vbox b = i < kid_count ? in[static_cast<std::size_t>(kids[i])].bounds() : vbox();
            alignas(16) float lo[4], hi[4];
            _mm_store_ps(lo, b.lo);
            _mm_store_ps(hi, b.hi);
            for (int a = 0; a < 3; ++a) {
                node.bounds[a][i] = lo[a];
                node.bounds[3 + a][i] = hi[a];
            }
            node.child[i] = i < kid_count ? codes[i] : bvh_child{};
        }
        node.child_count = kid_count;
        return index;
    }
};

triangle_setup setup_of(const mesh& m, std::int32_t k) {
    vector3 corner[3];
    for (int j = 0; j < 3; ++j) corner[j] = m.vertices[m.faces[k].vertex[j]];
    return prepare_triangle(corner, cross(corner[1] - corner[0], corner[2] - corner[0]));
}

void fill_packet(const mesh& m, const std::int32_t* lanes, triangle_packet& p) {
    for (int lane = 0; lane < 4; ++lane) {
        p.index[lane] = lanes[lane];
        triangle_setup s;  // an empty lane: the zero normal meets nothing
        if (lanes[lane] >= 0) s = setup_of(m, lanes[lane]);
        const vector3* fields[4] = {&s.normal, &s.vertex[0], &s.edge1, &s.edge2};
        float (*rows[4])[4] = {p.normal, p.vertex, p.edge1, p.edge2};
        for (int f = 0; f < 4; ++f) {
            rows[f][0][lane] = fields[f]->x;
            rows[f][1][lane] = fields[f]->y;
            rows[f][2][lane] = fields[f]->z;
        }
        p.offset[lane] = s.offset;
    }
}

}  // namespace

void build_bvh(bvh& tree, const mesh& m, int threads) {
    tree = bvh();
    if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    part whole;
    box_list boxes = reach_boxes(m, threads, &whole);
    if (boxes.empty()) return;

    const int n = static_cast<int>(boxes.size());
    builder b(boxes, threads);
    b.nodes.reserve(2 * boxes.size() + 1);  // a binary tree over n leaves has fewer than 2n nodes
    const int root = b.build(0, n, 0, whole);

    folder f{b.nodes, boxes, tree.nodes, {}, {}};
    f.packet_lanes.reserve(boxes.size() + boxes.size() / 2);
    tree.nodes.reserve(b.nodes.size() / 3 + 1);
    if (b.nodes[static_cast<std::size_t>(root)].leaf()) {
        f.emit(&root, 1);  // a lone leaf still sits under a root node
    } else {
        const int pair[2] = {b.nodes[static_cast<std::size_t>(root)].a, b.nodes[static_cast<std::size_t>(root)].b};
        f.emit(pair, 2);
    }
    // The boxes and the binary tree are done with: free them before the
    // leaves are filled, so those can reuse the pages.
    box_list().swap(boxes);
    binary_list().swap(b.nodes);

    tree.packets.resize(f.packet_lanes.size() / 4);
    tree.slivers.resize(f.sliver_faces.size());
    const int packet_count = static_cast<int>(tree.packets.size());
    const int chunks = packet_count >= parallel_threshold ? threads : 1;
    parallel_for(chunks, chunks, [&](int chunk) {
        const int begin = static_cast<int>(static_cast<long long>(packet_count) * chunk / chunks);
        const int end = static_cast<int>(static_cast<long long>(packet_count) * (chunk + 1) / chunks);
        for (int k = begin; k < end; ++k)
            fill_packet(m, &f.packet_lanes[4 * static_cast<std::size_t>(k)], tree.packets[static_cast<std::size_t>(k)]);
    });
    for (std::size_t k = 0; k < tree.slivers.size(); ++k) {
        const triangle_setup s = setup_of(m, f.sliver_faces[k]);
        sliver_record& r = tree.slivers[k];
        for (int j = 0; j < 3; ++j) r.vertex[j] = s.vertex[j];
        r.plane = s.plane;
        r.normal = s.normal;
        r.index = f.sliver_faces[k];
    }
}
