// Debug and sanitizer builds check the hierarchy's invariants as they go:
// a tree deeper than the traversal's stack, a leaf naming entries beyond
// its array, a builder that takes more nodes than its arena holds, or grid
// cells out of order stop at an assertion rather than reading or writing
// out of bounds. (Release builds leave the checks out; so do these tests.)

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "bvh/build/binary_tree.h"
#include "bvh/build/grid.h"
#include "bvh/bvh.h"

namespace {

// A root whose four lanes hold boxes around everything and point at `child`.
bvh one_node_tree(bvh_child child) {
    bvh tree;
    tree.nodes.resize(1);
    bvh_node& n = tree.nodes[0];
    for (int k = 0; k < 4; ++k) {
        for (int a = 0; a < 3; ++a) {
            n.bounds[a][k] = -1e30f;
            n.bounds[3 + a][k] = 1e30f;
        }
        n.child[k] = child;
    }
    n.child_count = 4;
    return tree;
}

int trace(const bvh& tree) {
    float distance = 150000.0f;
    bvh_hit hit;
    return intersect_bvh(tree, ray{{0.0f, 0.0f, 0.0f}, {1.0f, 0.0f, 0.0f}}, distance, hit);
}

}  // namespace

TEST(bvh_invariants, malformed_trees_stop_at_an_assertion) {
#ifdef NDEBUG
    GTEST_SKIP() << "assertions are compiled out";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // A node that is its own child: an endless descent, three pushes a level.
    EXPECT_DEATH(trace(one_node_tree(bvh_child::node(0))), "traversal stack overflow");
    // Leaves naming packets and sliver records that do not exist.
    EXPECT_DEATH(trace(one_node_tree(bvh_child::leaf(5, 2, false))), "a leaf beyond the packets");
    EXPECT_DEATH(trace(one_node_tree(bvh_child::leaf(3, 1, true))), "a leaf beyond the sliver records");
    // A leaf of more entries than its code can name.
    volatile int too_long = bvh_child::max_length + 1;
    EXPECT_DEATH(bvh_child::leaf(0, too_long, false), "length");
}

namespace {

unsigned trace_packet_of_one(const bvh& tree) {
    ray_packet rays;
    rays.set(0, {{0.0f, 0.0f, 0.0f}, {1.0f, 0.0f, 0.0f}});
    float distances[packet_size] = {150000.0f};
    bvh_hit hits[packet_size];
    return intersect_bvh_packet(tree, rays, 1u, distances, hits);
}

}  // namespace

// The packet walk and the compact leaves check the same as the single-ray
// walk: the stack's depth, and leaves within their array.
TEST(bvh_invariants, malformed_trees_stop_the_packet_walk_and_compact_leaves_at_an_assertion) {
#ifdef NDEBUG
    GTEST_SKIP() << "assertions are compiled out";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(trace_packet_of_one(one_node_tree(bvh_child::node(0))), "traversal stack overflow");
    EXPECT_DEATH(trace_packet_of_one(one_node_tree(bvh_child::leaf(5, 2, false))), "a leaf beyond the packets");
    // A compact tree of one triangle whose leaf names three.
    static vector3 corners[3] = {{2.0f, -1.0f, -1.0f}, {2.0f, 1.0f, -1.0f}, {2.0f, 0.0f, 1.0f}};
    static face_corners one_face = {{0, 1, 2}};
    bvh compact = one_node_tree(bvh_child::leaf(0, 3, false));
    compact.triangles.assign(1, 0);
    compact.source = mesh{3, 1, corners, &one_face};
    EXPECT_DEATH(trace(compact), "a leaf beyond the compact triangles");
    EXPECT_DEATH(trace_packet_of_one(compact), "a leaf beyond the compact triangles");
}

TEST(bvh_invariants, the_builder_checks_its_arena_and_its_cell_order) {
#ifdef NDEBUG
    GTEST_SKIP() << "assertions are compiled out";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    using namespace bvh_build;
    // Two boxes: a binary tree over them has three nodes, no more.
    EXPECT_DEATH(
        {
            node_arena nodes(2);
            for (int k = 0; k < 4; ++k) nodes.take(binary_node::leaf(vbox(), {0, 1}));
        },
        "more nodes than a binary tree");
    // Runs whose entries' cells say they are not sorted.
    const std::vector<util::index_range> runs = {{0, 2}, {2, 3}};
    const std::vector<std::uint32_t> cell = {4, 4, 1};
    EXPECT_DEATH(check_cell_order(runs, [&](int k) { return cell[static_cast<std::size_t>(k)]; }), "out of order");
    const std::vector<std::uint32_t> mixed = {4, 5, 6};
    EXPECT_DEATH(check_cell_order(runs, [&](int k) { return mixed[static_cast<std::size_t>(k)]; }), "outside its cell");
}
