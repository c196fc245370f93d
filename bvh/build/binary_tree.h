#pragma once

// The binary tree the heuristic builds before it is folded into four-wide
// nodes: its nodes, the lists subtrees are built in, and the one array the
// whole tree ends up in.

#include <emmintrin.h>

#include <atomic>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bvh/build/box.h"
#include "util/index_range.h"
#include "util/mapped_array.h"

namespace bvh_build {

// One node of the binary tree: an inner node links two children (slots in
// the same list or array), a leaf names a run of the box array. Both fit in
// 32 bytes: a leaf stores its run's begin as -1 - begin, so the sign of the
// first word tells the two apart; only the members below read or write it.
class binary_node {
public:
    // An inner node; a placeholder's children are linked once built.
    static binary_node inner(const vbox& bounds, int left, int right) { return make(bounds, left, right); }
    static binary_node leaf(const vbox& bounds, util::index_range run) {
        assert(run.begin >= 0 && run.size() > 0);
        return make(bounds, -1 - run.begin, run.size());
    }

    bool is_leaf() const { return word_[0] < 0; }
    int left() const {
        assert(!is_leaf());
        return word_[0];
    }
    int right() const {
        assert(!is_leaf());
        return word_[1];
    }
    util::index_range run() const {
        assert(is_leaf());
        return {-1 - word_[0], -1 - word_[0] + word_[1]};
    }

    void link(int left, int right) {
        assert(!is_leaf() && left >= 0 && right >= 0);
        word_[0] = left;
        word_[1] = right;
    }
    // Moves an inner node's links by `offset`, as its subtree moves into a
    // list or array `offset` slots further on; a leaf stays as it is.
    void relink(int offset) {
        if (is_leaf()) return;
        word_[0] += offset;
        word_[1] += offset;
    }

    vbox bounds() const {
        vbox v;
        v.lo = _mm_setr_ps(lo_[0], lo_[1], lo_[2], 0.0f);
        v.hi = _mm_setr_ps(hi_[0], hi_[1], hi_[2], 0.0f);
        return v;
    }

private:
    static binary_node make(const vbox& bounds, std::int32_t first, std::int32_t second) {
        alignas(16) float lo[4], hi[4];
        _mm_store_ps(lo, bounds.lo);
        _mm_store_ps(hi, bounds.hi);
        binary_node n;
        for (int a = 0; a < 3; ++a) {
            n.lo_[a] = lo[a];
            n.hi_[a] = hi[a];
        }
        n.word_[0] = first;
        n.word_[1] = second;
        return n;
    }

    float lo_[3];
    float hi_[3];
    std::int32_t word_[2];  // inner: left, right; leaf: -1 - begin, count
};

using binary_list = std::vector<binary_node, util::big_allocator<binary_node>>;

// Appends `from` to `to`, relinking its inner nodes to where they land;
// returns the offset they moved by.
inline int splice(binary_list& to, const binary_list& from) {
    const int offset = static_cast<int>(to.size());
    for (binary_node n : from) {
        n.relink(offset);
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

    const binary_node& operator[](int slot) const {
        assert(slot >= 0 && static_cast<std::size_t>(slot) < size_);
        return data_[slot];
    }

    // Moves a finished subtree in; returns where its root landed.
    int take(const binary_list& subtree, int root) {
        const int base = claim(subtree.size());
        for (std::size_t k = 0; k < subtree.size(); ++k) {
            binary_node n = subtree[k];
            n.relink(base);
            data_[static_cast<std::size_t>(base) + k] = n;
        }
        return base + root;
    }
    int take(const binary_node& n) {
        const int slot = claim(1);
        data_[slot] = n;
        return slot;
    }
    void release() {
        util::release_big(data_, size_ * sizeof(binary_node));
        data_ = nullptr;
        size_ = 0;
    }

private:
    // The first of `count` fresh slots.
    int claim(std::size_t count) {
        const int base = next_.fetch_add(static_cast<int>(count));
        assert(static_cast<std::size_t>(base) + count <= size_ && "more nodes than a binary tree over the boxes has");
        return base;
    }

    std::size_t size_;
    binary_node* data_;
    std::atomic<int> next_{0};
};

}  // namespace bvh_build
