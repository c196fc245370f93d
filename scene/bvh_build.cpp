#include <xmmintrin.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "scene/bvh.h"
#include "scene/bvh_bounds.h"
#include "scene/bvh_build_parts.h"
#include "util/parallel_for.h"

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

// One triangle's corners, its reach box tagged with its index (or nothing,
// for a triangle that can never be hit), and the doubled centre of its
// corners' box.
struct reach_entry {
    vector3 corner[3];
    bool hit_able = false;
    vbox box;

    reach_entry(const mesh& m, int k, bool with_box) {
        for (int j = 0; j < 3; ++j) corner[j] = m.vertices[m.faces[k].vertex[j]];
        const vector3 face_normal = cross(corner[1] - corner[0], corner[2] - corner[0]);
        if (!with_box) {
            hit_able = !(face_normal.x == 0.0f && face_normal.y == 0.0f && face_normal.z == 0.0f);
            return;
        }
        const triangle_shape shape = shape_of(corner, face_normal);
        hit_able = shape.kind != triangle_kind::degenerate;
        if (!hit_able) return;
        const box3 b = reach_box(corner, shape);
        const std::uint32_t tag = static_cast<std::uint32_t>(k) | (shape.kind == triangle_kind::sliver ? sliver_tag : 0);
        float tag_bits;
        std::memcpy(&tag_bits, &tag, sizeof tag_bits);
        box.lo = _mm_setr_ps(b.lo[0], b.lo[1], b.lo[2], tag_bits);
        box.hi = _mm_setr_ps(b.hi[0], b.hi[1], b.hi[2], 0.0f);
    }

    __m128 corner_centre() const {
        const __m128 a = _mm_setr_ps(corner[0].x, corner[0].y, corner[0].z, 0.0f);
        const __m128 b = _mm_setr_ps(corner[1].x, corner[1].y, corner[1].z, 0.0f);
        const __m128 c = _mm_setr_ps(corner[2].x, corner[2].y, corner[2].z, 0.0f);
        return _mm_add_ps(_mm_min_ps(_mm_min_ps(a, b), c), _mm_max_ps(_mm_max_ps(a, b), c));
    }
};

int chunk_begin(int n, int chunk, int chunks) { return static_cast<int>(static_cast<long long>(n) * chunk / chunks); }

// The corners of the triangle this far ahead start on their way from
// memory: a mesh's faces name its vertices in no particular order, and a
// pass over millions of them otherwise waits on most of its reads.
constexpr int prefetch_distance = 16;

void prefetch_corners(const mesh& m, int k, int end) {
    if (k + prefetch_distance >= end) return;
    const face_corners& f = m.faces[k + prefetch_distance];
    for (int j = 0; j < 3; ++j) _mm_prefetch(reinterpret_cast<const char*>(&m.vertices[f.vertex[j]]), _MM_HINT_T0);
}

// Every triangle that can be hit, as its reach box, in mesh order.
box_list reach_boxes(const mesh& m, int threads, part* whole) {
    const int n = std::max(m.face_count, 0);
    box_list boxes(static_cast<std::size_t>(n));
    const int chunks = n >= parallel_threshold ? threads : 1;
    std::vector<int> kept(static_cast<std::size_t>(chunks), 0);
    std::vector<part> parts(static_cast<std::size_t>(chunks));
    util::parallel_for(chunks, chunks, [&](int chunk) {
        int out = chunk_begin(n, chunk, chunks);
        const int end = chunk_begin(n, chunk + 1, chunks);
        for (int k = chunk_begin(n, chunk, chunks); k < end; ++k) {
            prefetch_corners(m, k, end);
            const reach_entry e(m, k, true);
            if (!e.hit_able) continue;
            boxes.put(static_cast<std::size_t>(out++), e.box);
            parts[static_cast<std::size_t>(chunk)].take(e.box);
        }
        kept[static_cast<std::size_t>(chunk)] = out - chunk_begin(n, chunk, chunks);
    });
    // Close the gaps the left-out triangles left, keeping mesh order.
    std::size_t size = 0;
    for (int chunk = 0; chunk < chunks; ++chunk) {
        const std::size_t begin = static_cast<std::size_t>(chunk_begin(n, chunk, chunks));
        if (size != begin) std::memmove(boxes.data() + size, boxes.data() + begin, sizeof(vbox) * static_cast<std::size_t>(kept[chunk]));
        size += static_cast<std::size_t>(kept[chunk]);
        whole->take(parts[static_cast<std::size_t>(chunk)]);
    }
    boxes.shrink(size);
    return boxes;
}

// The same boxes for a large mesh, already sorted into the cells of a grid
// over the mesh's vertices (cell_grid): a first pass counts each cell's
// triangles, a second writes each box straight into its cell's run. That
// reads the corners twice but writes the boxes once, rather than writing
// them in mesh order and then again, sorted, into a second array as large.
box_list reach_boxes_in_cells(const mesh& m, int threads, part* whole, std::vector<cell_run>* runs) {
    const int n = std::max(m.face_count, 0);
    vbox vertices;
    for (int i = 0; i < m.vertex_count; ++i)
        vertices.grow(_mm_setr_ps(m.vertices[i].x, m.vertices[i].y, m.vertices[i].z, 0.0f));
    vbox centres;  // every corner box's doubled centre lies in here
    centres.lo = _mm_add_ps(vertices.lo, vertices.lo);
    centres.hi = _mm_add_ps(vertices.hi, vertices.hi);
    const cell_grid grid(centres);

    const int chunks = threads;
    std::vector<std::vector<int>> at(static_cast<std::size_t>(chunks), std::vector<int>(cell_count, 0));
    util::parallel_for(chunks, chunks, [&](int chunk) {
        std::vector<int>& count = at[static_cast<std::size_t>(chunk)];
        const int end = chunk_begin(n, chunk + 1, chunks);
        for (int k = chunk_begin(n, chunk, chunks); k < end; ++k) {
            prefetch_corners(m, k, end);
            const reach_entry e(m, k, false);
            if (e.hit_able) ++count[grid.cell(e.corner_centre())];
        }
    });
    *runs = place_cells(at, 0);
    const int total = runs->empty() ? 0 : runs->back().end;
    box_list boxes(static_cast<std::size_t>(total));
    std::vector<part> parts(static_cast<std::size_t>(chunks));
    util::parallel_for(chunks, chunks, [&](int chunk) {
        std::vector<int>& to = at[static_cast<std::size_t>(chunk)];
        const int end = chunk_begin(n, chunk + 1, chunks);
        for (int k = chunk_begin(n, chunk, chunks); k < end; ++k) {
            prefetch_corners(m, k, end);
            const reach_entry e(m, k, true);
            if (!e.hit_able) continue;
            boxes.put(static_cast<std::size_t>(to[grid.cell(e.corner_centre())]++), e.box);
            parts[static_cast<std::size_t>(chunk)].take(e.box);
        }
    });
    for (const part& p : parts) whole->take(p);
    return boxes;
}

}  // namespace

void build_bvh(bvh& tree, const mesh& m, int threads) {
    tree = bvh();
    if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    part whole;
    std::vector<cell_run> cells;
    box_list boxes = m.face_count >= cluster_threshold ? reach_boxes_in_cells(m, threads, &whole, &cells)
                                                       : reach_boxes(m, threads, &whole);
    if (boxes.empty()) return;
    node_arena nodes(boxes.size());
    const int root = build_binary_tree(boxes, whole, threads, nodes, &cells);
    fold_tree(m, boxes, nodes, root, threads, tree);
}
