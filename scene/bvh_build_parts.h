#pragma once

// What the builder's stages share: boxes in vector registers, the runs of
// them a split measures, and the binary tree the heuristic builds before it
// is folded into four-wide nodes.

#include <emmintrin.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include "util/mapped_array.h"

// Leaves hold at most this many triangles: two packets, or eight sliver
// records (bvh_child.h checks that a leaf can name them).
constexpr int max_leaf_size = 8;

// From this depth on every split halves. The heuristic's own splits, then
// at most 24 levels of a tree over grid cells begun just above the limit
// (bvh_clusters.cpp), then at most 31 halvings of the triangles bound the
// depth of the binary tree, and with it the traversal's stack
// (bvh_traverse.cpp).
constexpr int sah_depth_limit = 64;
constexpr int max_binary_depth = sah_depth_limit + 24 + 31;

// A box with x, y, z in the first three lanes. In a triangle's box the
// fourth lane of `lo` carries its tag: its index, with sliver_tag set for a
// sliver; `hi` has zero there. Growing boxes only takes minima and maxima
// of that lane. Arithmetic must not touch it (without_tag): small indices
// read as denormal floats, and every operation on one costs a microcode
// assist of a hundred cycles or more.
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

inline std::uint32_t tag_of(const vbox& b) {
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_castps_si128(_mm_shuffle_ps(b.lo, b.lo, 0xff))));
}

inline bool is_sliver(const vbox& b) { return (tag_of(b) & sliver_tag) != 0; }

inline __m128 without_tag(__m128 lo) { return _mm_and_ps(lo, _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0))); }

inline float half_area(const vbox& b) {
    const __m128 d = _mm_max_ps(_mm_sub_ps(b.hi, without_tag(b.lo)), _mm_setzero_ps());  // an empty box has none
    const __m128 p = _mm_mul_ps(d, _mm_shuffle_ps(d, d, _MM_SHUFFLE(3, 0, 2, 1)));  // xy, yz, zx
    alignas(16) float v[4];
    _mm_store_ps(v, p);
    return v[0] + v[1] + v[2];
}

inline __m128 centre(const vbox& b) { return _mm_add_ps(without_tag(b.lo), b.hi); }  // doubled

// The triangles' boxes, one array. It is allocated without being written:
// the threads that fill it are the first to touch its pages, in parallel,
// which on a fresh machine is most of what filling it costs. Elements are
// placed with put() before anything reads them.
class box_list {
public:
    box_list() = default;
    explicit box_list(std::size_t n)
        : size_(n), capacity_(n), data_(n == 0 ? nullptr : static_cast<vbox*>(util::allocate_big(n * sizeof(vbox)))) {}
    ~box_list() { util::release_big(data_, capacity_ * sizeof(vbox)); }
    box_list(box_list&& other) noexcept { swap(other); }
    box_list& operator=(box_list&& other) noexcept {
        swap(other);
        return *this;
    }

    void put(std::size_t k, const vbox& b) { ::new (static_cast<void*>(data_ + k)) vbox(b); }
    vbox& operator[](std::size_t k) { return data_[k]; }
    const vbox& operator[](std::size_t k) const { return data_[k]; }
    vbox* data() { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    void shrink(std::size_t n) { size_ = n; }  // keeps the memory
    void swap(box_list& other) {
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
        std::swap(data_, other.data_);
    }
    void release() {
        box_list none;
        swap(none);
    }

private:
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    vbox* data_ = nullptr;
};

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

// One node of the binary tree. Children are indices into the same list; a
// leaf names a run of the box array.
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
    static binary_node make(const vbox& bounds, std::int32_t a, std::int32_t b) {
        alignas(16) float lo[4], hi[4];
        _mm_store_ps(lo, bounds.lo);
        _mm_store_ps(hi, bounds.hi);
        return {{lo[0], lo[1], lo[2]}, {hi[0], hi[1], hi[2]}, a, b};
    }
};

using binary_list = std::vector<binary_node, util::big_allocator<binary_node>>;

// Appends `from` to `to`, moving its inner links by the offset they land at;
// returns that offset.
inline int splice(binary_list& to, const binary_list& from) {
    const int offset = static_cast<int>(to.size());
    for (binary_node n : from) {
        if (!n.leaf()) {
            n.a += offset;
            n.b += offset;
        }
        to.push_back(n);
    }
    return offset;
}

// The binary tree's nodes, one array for the whole tree. Each subtree is
// built in a list of its own (small, and reused by its thread), then moved
// here into slots taken at once, whichever thread gets there first: where a
// subtree lands does not matter, as the fold follows the links. A binary
// tree over n boxes has fewer than 2n nodes, so that is the room; the pages
// beyond the last slot taken are never touched.
class node_arena {
public:
    explicit node_arena(std::size_t boxes)
        : size_(boxes == 0 ? 0 : 2 * boxes - 1),
          data_(static_cast<binary_node*>(util::allocate_big(size_ * sizeof(binary_node)))) {}
    ~node_arena() { release(); }
    node_arena(const node_arena&) = delete;
    node_arena& operator=(const node_arena&) = delete;

    binary_node& operator[](int slot) { return data_[slot]; }
    const binary_node& operator[](int slot) const { return data_[slot]; }

    // Moves a finished subtree in; returns where its root landed.
    int take(const binary_list& subtree, int root) {
        const int base = next_.fetch_add(static_cast<int>(subtree.size()));
        for (std::size_t k = 0; k < subtree.size(); ++k) {
            binary_node n = subtree[k];
            if (!n.leaf()) {
                n.a += base;
                n.b += base;
            }
            data_[static_cast<std::size_t>(base) + k] = n;
        }
        return base + root;
    }
    int take(const binary_node& n) {
        const int slot = next_.fetch_add(1);
        data_[slot] = n;
        return slot;
    }
    void release() {
        util::release_big(data_, size_ * sizeof(binary_node));
        data_ = nullptr;
        size_ = 0;
    }

private:
    std::size_t size_;
    binary_node* data_;
    std::atomic<int> next_{0};
};

// A coarse grid over the triangles' (doubled) centres, 16 cells an axis,
// for sorting large inputs into cells before the heuristic sees them
// (bvh_clusters.cpp). Cells are numbered with each axis's coordinate
// interleaved bit by bit, so that cells close in the grid are close in the
// array too.
constexpr int cluster_threshold = 1 << 18;  // fewer boxes go straight to the heuristic
constexpr int grid_bits = 4;
constexpr int cell_count = 1 << (3 * grid_bits);

struct cell_grid {
    __m128 lo;
    __m128 scale;

    // Over the box that holds every centre.
    explicit cell_grid(const vbox& centres) : lo(centres.lo) {
        alignas(16) float l[4], h[4], s[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        _mm_store_ps(l, centres.lo);
        _mm_store_ps(h, centres.hi);
        for (int a = 0; a < 3; ++a)
            if (h[a] > l[a]) s[a] = static_cast<float>(1 << grid_bits) / (h[a] - l[a]);
        scale = _mm_load_ps(s);
    }

    std::uint32_t cell(__m128 doubled_centre) const {
        const __m128 last = _mm_set1_ps(static_cast<float>((1 << grid_bits) - 1));
        const __m128 k = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_sub_ps(doubled_centre, lo), scale), _mm_setzero_ps()), last);
        alignas(16) std::int32_t xyz[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(xyz), _mm_cvttps_epi32(k));
        std::uint32_t c = 0;
        for (int bit = 0; bit < grid_bits; ++bit)
            for (int a = 0; a < 3; ++a) c |= ((static_cast<std::uint32_t>(xyz[a]) >> bit) & 1u) << (3 * bit + a);
        return c;
    }
};

// A run of the box array whose boxes all lie in one cell.
struct cell_run {
    int begin;
    int end;
};

// Turns each chunk's count of boxes per cell into where that chunk's share
// of the cell starts, counting from `begin`: cells in order, and within a
// cell the chunks in order, so the sort that follows is stable and the
// result does not depend on the threads. Returns the occupied cells' runs.
inline std::vector<cell_run> place_cells(std::vector<std::vector<int>>& counts, int begin) {
    std::vector<cell_run> runs;
    int at = begin;
    for (std::size_t c = 0; c < static_cast<std::size_t>(cell_count); ++c) {
        const int first = at;
        for (std::vector<int>& chunk_counts : counts) {
            const int n = chunk_counts[c];
            chunk_counts[c] = at;
            at += n;
        }
        if (at > first) runs.push_back({first, at});
    }
    return runs;
}

// The binned surface area heuristic over boxes[begin, end), which it
// partitions in place, on up to `threads` threads, from depth `depth` down,
// into `nodes`; returns the subtree's root. The tree's shape is the same
// whatever the threads.
int build_sah(box_list& boxes, int begin, int end, const part& whole, int depth, int threads, node_arena& nodes);

// The whole binary tree over `boxes`, for any size: large inputs are first
// sorted into the cells of a coarse grid (or come sorted, with `cells`
// naming the runs), so that the heuristic works on runs that fit in the
// caches, then joined by a small tree over the cells. The boxes end up in
// leaf order; returns the root's slot.
int build_binary_tree(box_list& boxes, const part& whole, int threads, node_arena& nodes,
                      const std::vector<cell_run>* cells = nullptr);
