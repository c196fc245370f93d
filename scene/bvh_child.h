#pragma once

#include <cstdint>

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

    static constexpr bvh_child node(std::uint32_t index) { return {index}; }
    static constexpr bvh_child leaf(std::uint32_t first, int length, bool slivers) {
        return {leaf_flag | (slivers ? sliver_flag : 0) | (first << length_bits) |
                static_cast<std::uint32_t>(length - 1)};
    }

    constexpr bool is_leaf() const { return (bits & leaf_flag) != 0; }
    constexpr bool holds_slivers() const { return (bits & sliver_flag) != 0; }
    constexpr std::uint32_t node_index() const { return bits; }
    constexpr std::uint32_t first() const { return (bits & (sliver_flag - 1)) >> length_bits; }
    constexpr int length() const { return static_cast<int>(bits & (max_length - 1)) + 1; }
};

static_assert(sizeof(bvh_child) == 4, "a node's four children fill one 16-byte row");
static_assert(bvh_child::leaf(bvh_child::max_first, bvh_child::max_length, true).first() == bvh_child::max_first &&
                  bvh_child::leaf(bvh_child::max_first, bvh_child::max_length, true).length() == bvh_child::max_length,
              "the largest leaf round-trips");
static_assert(!bvh_child::node(bvh_child::max_node).is_leaf(), "every node index leaves the leaf bit clear");
