#include <algorithm>
#include <cmath>
#include <thread>

#include "bvh/build/stages.h"
#include "bvh/bvh.h"

// The build by the heuristic: every triangle that can be hit gets its reach
// box (reach.h); a binned surface area heuristic splits those boxes into a
// binary tree (sah.cpp; large meshes are first cut into cells,
// clusters.cpp); the binary tree is folded into four-wide nodes in
// depth-first order (fold.cpp), and the leaves' packets and sliver records
// are filled in that same order, so a leaf's triangles sit side by side in
// memory (leaves.cpp).
//
// The build in Morton order: the triangles' keys are sorted along a Morton
// curve (morton_keys.cpp), and the four-wide tree is cut straight from the
// sorted keys, each leaf's box made from its triangles' reach boxes as the
// leaf is made (morton_tree.cpp). No box list and no binary tree: the keys
// are the only transient array.

namespace bvh_build {

void build(bvh& tree, const mesh& m, config c) {
    tree = bvh();
    if (c.threads <= 0) c.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const bvh_method method = c.method == bvh_method::automatic ? automatic_method(std::max(m.face_count, 0)) : c.method;
    if (method == bvh_method::morton) {
        const util::big_array<std::uint64_t> keys = morton_keys(m, c);
        build_morton_tree(keys, m, c, tree);
        return;
    }
    part whole;
    std::vector<util::index_range> cells;
    box_list boxes = m.face_count >= c.cluster_threshold ? reach_boxes_in_cells(m, c, whole, cells)
                                                          : reach_boxes(m, c, whole);
    if (boxes.empty()) return;
    node_arena nodes(boxes.size());
    const int root = build_binary_tree(boxes, whole, c, nodes, cells);
    const leaf_faces faces = fold_tree(boxes, nodes, root, c, tree);
    // The boxes and the binary tree are done with: free them before the
    // leaves are filled, so those can reuse the pages.
    boxes.release();
    nodes.release();
    fill_leaves(m, faces, c, tree);
}

}  // namespace bvh_build

bvh_method automatic_method(std::int64_t triangles, std::int64_t primary_rays) {
    if (triangles < bvh_build::config::morton_min_triangles) return bvh_method::surface_area;
    if (primary_rays <= 0) primary_rays = bvh_build::config::default_primary_rays;
    const double root = std::sqrt(static_cast<double>(triangles));
    const double break_even = bvh_build::config::morton_break_even * root;
    return static_cast<double>(primary_rays) < break_even ? bvh_method::morton : bvh_method::surface_area;
}

void build_bvh(bvh& tree, const mesh& m, int threads, bvh_method method) {
    bvh_build::config c;
    c.threads = threads;
    c.method = method;
    bvh_build::build(tree, m, c);
}
