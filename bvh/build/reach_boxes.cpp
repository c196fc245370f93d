#include <algorithm>
#include <cstring>

#include "bvh/build/corners.h"
#include "bvh/build/grid.h"
#include "bvh/build/stages.h"
#include "bvh/reach.h"
#include "util/parallel_for.h"

namespace bvh_build {

namespace {

// How far ahead of the triangle it reads a pass fetches corners.
constexpr int prefetch_distance = 16;

void prefetch_ahead(const mesh& m, int k, util::index_range run) {
    if (k + prefetch_distance < run.end) prefetch_corners(m, k + prefetch_distance);
}

util::index_range all_faces(const mesh& m) { return {0, std::max(m.face_count, 0)}; }

// One chunk's bounds, alone on its cache lines: the threads update theirs
// for every triangle.
struct alignas(64) chunk_part {
    part bounds;
};

}  // namespace

box_list reach_boxes(const mesh& m, const config& c, part& whole) {
    const util::index_range faces = all_faces(m);
    box_list boxes(static_cast<std::size_t>(faces.size()));
    const int chunks = c.chunks_for(faces.size());
    std::vector<int> kept(static_cast<std::size_t>(chunks), 0);
    std::vector<chunk_part> parts(static_cast<std::size_t>(chunks));
    util::parallel_for(faces, chunks, chunks, [&](int chunk, util::index_range run) {
        part& bounds = parts[static_cast<std::size_t>(chunk)].bounds;
        int out = run.begin;
        for (int k = run.begin; k < run.end; ++k) {
            prefetch_ahead(m, k, run);
            vbox box;
            if (!corners(m, k).tagged_reach_box(k, box)) continue;
            boxes.put(static_cast<std::size_t>(out++), box);
            bounds.take(box);
        }
        kept[static_cast<std::size_t>(chunk)] = out - run.begin;
    });
    // Close the gaps the left-out triangles left, keeping mesh order.
    std::size_t size = 0;
    for (int chunk = 0; chunk < chunks; ++chunk) {
        const std::size_t begin = static_cast<std::size_t>(util::piece(faces, chunk, chunks).begin);
        const std::size_t count = static_cast<std::size_t>(kept[static_cast<std::size_t>(chunk)]);
        if (size != begin) std::memmove(boxes.data() + size, boxes.data() + begin, sizeof(vbox) * count);
        size += count;
        whole.take(parts[static_cast<std::size_t>(chunk)].bounds);
    }
    boxes.shrink(size);
    return boxes;
}

// A first pass counts each cell's triangles, a second writes each box
// straight into its cell's run. That reads the corners twice but writes
// the boxes once, rather than writing them in mesh order and then again,
// sorted, into a second array as large.
box_list reach_boxes_in_cells(const mesh& m, const config& c, part& whole, std::vector<util::index_range>& cells) {
    const util::index_range faces = all_faces(m);
    vbox vertices;
    for (int i = 0; i < m.vertex_count; ++i)
        vertices.grow(_mm_setr_ps(m.vertices[i].x, m.vertices[i].y, m.vertices[i].z, 0.0f));
    vbox centres;  // every corner box's doubled centre lies in here
    centres.lo = _mm_add_ps(vertices.lo, vertices.lo);
    centres.hi = _mm_add_ps(vertices.hi, vertices.hi);
    const cell_grid grid(centres);

    const int chunks = c.threads;
    std::vector<std::vector<int>> at(static_cast<std::size_t>(chunks), std::vector<int>(config::cell_count, 0));
    util::parallel_for(faces, chunks, chunks, [&](int chunk, util::index_range run) {
        std::vector<int>& count = at[static_cast<std::size_t>(chunk)];
        for (int k = run.begin; k < run.end; ++k) {
            prefetch_ahead(m, k, run);
            const corners t(m, k);
            if (t.can_be_hit()) ++count[grid.cell(t.centre())];
        }
    });
    cells = place_cells(at, 0);
    const int total = cells.empty() ? 0 : cells.back().end;
    box_list boxes(static_cast<std::size_t>(total));
    std::vector<chunk_part> parts(static_cast<std::size_t>(chunks));
    util::parallel_for(faces, chunks, chunks, [&](int chunk, util::index_range run) {
        std::vector<int>& to = at[static_cast<std::size_t>(chunk)];
        part& bounds = parts[static_cast<std::size_t>(chunk)].bounds;
        for (int k = run.begin; k < run.end; ++k) {
            prefetch_ahead(m, k, run);
            const corners t(m, k);
            vbox box;
            if (!t.tagged_reach_box(k, box)) continue;
            boxes.put(static_cast<std::size_t>(to[grid.cell(t.centre())]++), box);
            bounds.take(box);
        }
    });
    for (const chunk_part& p : parts) whole.take(p.bounds);
    check_cell_order(cells, [&](int k) {
        return grid.cell(corners(m, tag_of(boxes[static_cast<std::size_t>(k)]).index()).centre());
    });
    return boxes;
}

}  // namespace bvh_build
