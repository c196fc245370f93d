#pragma once

#include <cstdint>

#include "bvh/bvh.h"
#include "bvh/node.h"

namespace bvh_build {

// Every choice the builder makes that is not forced by the input: the
// tunables, with the values build_bvh uses, and the structural limits the
// arrays and the depth bound rest on. A new way of building would be chosen
// here too.
struct config {
    // Threads the build may keep busy, the calling one included; build()
    // turns 0 into one per hardware thread.
    int threads = 0;

    // Fewer items than this are not worth a thread: triangles to box,
    // subtrees to split in two, packets or slivers to fill.
    int min_parallel_items = 4096;
    // Binning one node's boxes on several threads pays from this many on.
    int min_parallel_binning = 1 << 17;
    // From this many boxes on, a run is first sorted into the cells of a
    // coarse grid (clusters.cpp), and the fold is shared out by subtree.
    int cluster_threshold = 1 << 18;

    // How the tree is built: by the heuristic (packet leaves) or in Morton
    // order (compact leaves); automatic_method says which for `automatic`.
    bvh_method method = bvh_method::automatic;

    // How many of `items` chunks a parallel pass over them is cut into.
    int chunks_for(std::int64_t items) const { return items >= min_parallel_items ? threads : 1; }

    // --- fixed at compile time: the heuristic's innermost loops and the
    // arrays and the depth bound depend on these ---------------------------

    // The heuristic's prices: one four-box node test, one four-triangle
    // packet test. A packet of rays tests a node's boxes for all its rays
    // at once, and a leaf's packet of triangles four rays at a time,
    // so leaves are dear beside nodes (1.0, 1.5 and 3.0 rendered the
    // bunny no quicker: docs/performance.md).
    static constexpr float node_cost = 1.0f;
    static constexpr float packet_cost = 2.0f;

    // Bins per axis of the heuristic.
    static constexpr int bin_count = 16;
    // Leaves hold at most this many triangles: one packet, or four sliver
    // records.
    static constexpr int max_leaf_size = 4;
    // From this depth on every split halves.
    static constexpr int sah_depth_limit = 64;
    // The grid has 2^grid_bits cells an axis.
    static constexpr int grid_bits = 4;
    static constexpr int cell_count = 1 << (3 * grid_bits);
    // The tree over a grid's cells splits by the heuristic this deep, then
    // halves: it adds at most twice this many levels above the cells.
    static constexpr int join_depth_limit = 12;
    // The fold is shared out by the subtrees this many four-wide levels
    // below the root (up to sixteen of them).
    static constexpr int fold_task_depth = 2;

    // automatic_method builds in Morton order while the primary rays to be
    // traced are fewer than morton_break_even times the square root of the
    // triangle count, else by the heuristic. Measured on 2 threads
    // (docs/performance.md, "Choosing the build"): the heuristic's build
    // costs 0.13 to 0.26 us a triangle more, and its tree saves about
    // 0.012 ms times the square root of the triangle count on each 800 x
    // 600 picture; the break-even lay at 5,200 to 10,100 times the square
    // root for the bunny and its subdivisions (2 to 35 rays a triangle).
    // Below morton_min_triangles the heuristic is always used: its build
    // takes a few milliseconds there, and Morton order's tree over long
    // slivers (the CAD cylinder's) rendered 3 to 4 times slower.
    // No rays named: one 800 x 600 picture's.
    static constexpr double morton_break_even = 6500.0;
    static constexpr std::int64_t morton_min_triangles = 50000;
    static constexpr std::int64_t default_primary_rays = 800 * 600;

    // The Morton codes: this many bits an axis, interleaved.
    static constexpr int morton_axis_bits = 10;
    // The keys are first sorted by this many of the codes' top bits, into
    // runs small enough to sort in cache.
    static constexpr int morton_bucket_bits = 15;
    // A run of at most this many triangles is a compact leaf.
    static constexpr int morton_leaf_size = 4;
    // The Morton tree is built in tasks: the subtrees this many four-wide
    // levels below the root (up to 64 of them).
    static constexpr int morton_task_depth = 3;

    // The heuristic's own splits, then the levels a tree over grid cells
    // adds (cells are cut up only above sah_depth_limit), then at most 31
    // halvings of fewer than 2^31 triangles. A binary tree folds into
    // four-wide nodes no deeper than itself.
    static constexpr int max_binary_depth = sah_depth_limit + 2 * join_depth_limit + 31;
};

static_assert(config::max_leaf_size <= bvh_child::max_length, "a leaf of slivers must fit in one child");
static_assert(config::morton_leaf_size <= bvh_child::max_length, "a compact leaf must fit in one child");
// Every binary split of a Morton run either drops a code bit or halves a
// run of one code: no deeper than the code's bits and 31 halvings.
static_assert(3 * config::morton_axis_bits + 31 <= bvh_max_depth, "the traversal's stack must hold the Morton tree");
static_assert(config::cell_count <= 1 << config::join_depth_limit, "the halvings over the cells must run out within the limit");
static_assert(config::max_binary_depth <= bvh_max_depth, "the traversal's stack must hold the deepest tree");

}  // namespace bvh_build
