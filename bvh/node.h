#pragma once

#include <cassert>
#include <cstdint>

// The four-wide tree's nodes and what their lanes point at.

// No tree is deeper than this (the root at depth 0): the builder's limits
// keep it so (bvh/build/config.h checks them against it), and the
// traversal sizes its stack by it.
constexpr int bvh_max_depth = 128;

// What one lane of a node points at, in one 32-bit word: another node, or a
// leaf naming a run of entries in one of the hierarchy's two leaf arrays
// (packets of single-precision triangles, or sliver records).
//
//   inner node:  bit 31 clear, the node's index in bits 0..30
//   leaf:        bit 31 set; bit 30 set for sliver records; the run's first
//                entry in bits 3..29 and its length minus one in bits 0..2
struct bvh_child {
    std::uint32_t bits = 0;

    static constexpr int length_bits = 3;
    static constexpr int max_length = 1 << length_bits;
    static constexpr std::uint32_t max_first = (std::uint32_t{1} << (30 - length_bits)) - 1;
    static constexpr std::uint32_t max_node = (std::uint32_t{1} << 31) - 1;

    static constexpr std::uint32_t leaf_flag = std::uint32_t{1} << 31;
    static constexpr std::uint32_t sliver_flag = std::uint32_t{1} << 30;

    static constexpr bvh_child node(std::uint32_t index) {
        assert(index <= max_node);
        return {index};
    }
    static constexpr bvh_child leaf(std::uint32_t first, int length, bool slivers) {
        assert(first <= max_first && length >= 1 && length <= max_length);
        return {leaf_flag | (slivers ? sliver_flag : 0) | (first << length_bits) |
                static_cast<std::uint32_t>(length - 1)};
    }

    constexpr bool is_leaf() const { return (bits & leaf_flag) != 0; }
    constexpr bool holds_slivers() const { return (bits & sliver_flag) != 0; }
    constexpr std::uint32_t node_index() const { return bits; }
    constexpr std::uint32_t first() const { return (bits & (sliver_flag - 1)) >> length_bits; }
    constexpr int length() const { return static_cast<int>(bits & (max_length - 1)) + 1; }
    constexpr std::uint32_t end() const { return first() + static_cast<std::uint32_t>(length()); }
};

static_assert(sizeof(bvh_child) == 4, "a node's four children fill one 16-byte row");
static_assert(bvh_child::leaf(bvh_child::max_first, bvh_child::max_length, true).first() == bvh_child::max_first &&
                  bvh_child::leaf(bvh_child::max_first, bvh_child::max_length, true).length() == bvh_child::max_length,
              "the largest leaf round-trips");
static_assert(!bvh_child::node(bvh_child::max_node).is_leaf(), "every node index leaves the leaf bit clear");

// One node of a four-wide bounding volume hierarchy: the boxes of up to four
// children side by side (lo x, y, z, then hi x, y, z, four lanes each), so
// one ray meets all four boxes in a handful of vector instructions.
struct alignas(64) bvh_node {
    float bounds[6][4];
    bvh_child child[4];
    std::int32_t child_count = 0;
    std::int32_t unused[3] = {};  // the two cache lines' rest, defined

    // Lane k's box on one axis (0, 1, 2 for x, y, z).
    float lo(int axis, int k) const { return bounds[axis][k]; }
    float hi(int axis, int k) const { return bounds[3 + axis][k]; }
};
static_assert(sizeof(bvh_node) == 128, "a node is two cache lines, with no padding of unknown value");
