#include <xmmintrin.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "scene/bvh.h"
#include "scene/bvh_bounds.h"
#include "scene/bvh_build_parts.h"
#include "scene/parallel_for.h"

// The build: every triangle that can be hit gets its reach box (bvh_bounds.h);
// a binned surface area heuristic splits those boxes into a binary tree
// (bvh_sah.cpp; large meshes are first cut into cells, bvh_clusters.cpp);
// the binary tree is folded into four-wide nodes in depth-first order, and
// the leaves' packets and sliver records are filled in that same order, so
// a leaf's triangles sit side by side in memory (bvh_fold.cpp).

// Folds the binary tree into `tree` and fills its leaves from the mesh.
// Frees `boxes` and `nodes` on the way.
void fold_tree(const mesh& m, box_list& boxes, node_arena& nodes, int root, int threads, bvh& tree);

namespace {

constexpr int parallel_threshold = 4096;  // fewer triangles are not worth a thread

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
            const triangle_shape shape = shape_of(corner, cross(corner[1] - corner[0], corner[2] - corner[0]));
            const triangle_kind kind = shape.kind;
            if (kind == triangle_kind::degenerate) continue;
            const box3 b = reach_box(corner, shape);
            const std::uint32_t tag = static_cast<std::uint32_t>(k) | (kind == triangle_kind::sliver ? sliver_tag : 0);
            float tag_bits;
            std::memcpy(&tag_bits, &tag, sizeof tag_bits);
            vbox v;
            v.lo = _mm_setr_ps(b.lo[0], b.lo[1], b.lo[2], tag_bits);
            v.hi = _mm_setr_ps(b.hi[0], b.hi[1], b.hi[2], 0.0f);
            boxes.put(static_cast<std::size_t>(out++), v);
            parts[static_cast<std::size_t>(chunk)].take(v);
        }
        kept[static_cast<std::size_t>(chunk)] = out - begin;
    });
    // Close the gaps the left-out triangles left, keeping mesh order.
    std::size_t size = 0;
    for (int chunk = 0; chunk < chunks; ++chunk) {
        const std::size_t begin = static_cast<std::size_t>(static_cast<long long>(n) * chunk / chunks);
        if (size != begin) std::memmove(boxes.data() + size, boxes.data() + begin, sizeof(vbox) * static_cast<std::size_t>(kept[chunk]));
        size += static_cast<std::size_t>(kept[chunk]);
        whole->take(parts[static_cast<std::size_t>(chunk)]);
    }
    boxes.shrink(size);
    return boxes;
}

}  // namespace

void build_bvh(bvh& tree, const mesh& m, int threads) {
    tree = bvh();
    if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    part whole;
    box_list boxes = reach_boxes(m, threads, &whole);
    if (boxes.empty()) return;
    node_arena nodes(boxes.size());
    const int root = build_binary_tree(boxes, whole, threads, nodes);
    fold_tree(m, boxes, nodes, root, threads, tree);
}
