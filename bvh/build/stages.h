#pragma once

// The build's stages, in the order build() runs them. Nothing outside
// bvh/ includes this.

#include <cstdint>
#include <vector>

#include "bvh/build/binary_tree.h"
#include "bvh/build/box.h"
#include "bvh/build/box_list.h"
#include "bvh/build/config.h"
#include "bvh/bvh.h"
#include "mesh/mesh.h"
#include "util/big_array.h"
#include "util/index_range.h"
#include "util/mapped_array.h"

namespace bvh_build {

// The whole build, with every choice `c` makes (build_bvh: the defaults
// but the threads and the method).
void build(bvh& tree, const mesh& m, config c);

// 1. Every triangle that can be hit, as its reach box tagged with the
// triangle (reach_boxes.cpp), in mesh order; `whole` takes in their bounds.
box_list reach_boxes(const mesh& m, const config& c, part& whole);

// The same boxes for a large mesh, already sorted into the cells of a grid
// over the mesh's vertices; `cells` gets the occupied cells' runs.
box_list reach_boxes_in_cells(const mesh& m, const config& c, part& whole, std::vector<util::index_range>& cells);

// 2. The binary tree over `boxes`, for any size (clusters.cpp): large runs
// are first sorted into the cells of a coarse grid (or come sorted, with
// `cells` naming two or more runs), so that the heuristic works on runs
// that fit in the caches, then joined by a small tree over the cells. The
// boxes end up in leaf order; returns the root's slot.
int build_binary_tree(box_list& boxes, const part& whole, const config& c, node_arena& nodes,
                      const std::vector<util::index_range>& cells);

// The binned surface area heuristic over boxes[run] (sah.cpp), which it
// partitions in place, on up to `threads` threads, from depth `depth` down,
// into `nodes`; returns the subtree's root. The tree's shape is the same
// whatever the threads.
int build_sah(box_list& boxes, util::index_range run, const part& whole, int depth, int threads, const config& c,
              node_arena& nodes);

// 3. Which triangles each leaf holds, in leaf order: four lanes a packet
// (-1 in an empty lane), one entry a sliver record.
struct leaf_faces {
    std::vector<std::int32_t, util::big_allocator<std::int32_t>> packet_lanes;
    std::vector<std::int32_t, util::big_allocator<std::int32_t>> slivers;
};

// Folds the binary tree into the four-wide nodes of `tree` (fold.cpp) and
// lists the leaves' triangles.
leaf_faces fold_tree(const box_list& boxes, const node_arena& nodes, int root, const config& c, bvh& tree);

// 4. The leaves' packets and sliver records, filled from the mesh
// (leaves.cpp).
void fill_leaves(const mesh& m, const leaf_faces& faces, const config& c, bvh& tree);

// The Morton build, for large meshes: two stages.
//
// 1. Every triangle that can be hit, as its key (morton_keys.cpp): the
// Morton code of its centre in the high 32 bits, its index in the low 32,
// sorted, so by code and then by index.
util::big_array<std::uint64_t> morton_keys(const mesh& m, const config& c);

// 2. The four-wide tree over the sorted keys, cut where the codes differ,
// with compact leaves (morton_tree.cpp).
void build_morton_tree(const util::big_array<std::uint64_t>& keys, const mesh& m, const config& c, bvh& tree);

}  // namespace bvh_build
