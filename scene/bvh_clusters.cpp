#include <xmmintrin.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "scene/bvh_build_parts.h"
#include "util/parallel_for.h"

// The top levels of a binned heuristic each stream the whole box array from
// memory twice, and on a mesh of millions of triangles that traffic is most
// of the build. So a large input is first sorted, once, into the cells of a
// 16 x 16 x 16 grid over the triangles' centres (a counting sort); each
// cell's run is then built by the heuristic on its own, while it fits in
// the caches; a small tree over the cells, by the same heuristic on the
// cells' boxes, joins them. A cell still too large is cut up the same way.

namespace {

// The tree over at most 2^12 cells splits by the heuristic this deep, then
// halves: it adds at most twice this many levels above the cells.
constexpr int join_depth_limit = 12;
static_assert(cell_count <= 1 << join_depth_limit, "the halvings must run out within the limit");

// One occupied cell: its run of the box array and, once built, its bounds,
// its triangle count and its subtree's root.
struct cell {
    int begin = 0;
    int end = 0;
    part bounds;
    int root = -1;
};

struct clusterer {
    box_list& boxes;
    node_arena& nodes;
    int threads;

    // Sorts boxes[begin, end) by cell, stably; returns the occupied cells
    // in cell order.
    std::vector<cell> sort_into_cells(int begin, int end, const part& whole) {
        const cell_grid grid(whole.centres);

        const int count = end - begin;
        const int chunks = threads;
        auto chunk_begin = [&](int chunk) { return begin + static_cast<int>(static_cast<long long>(count) * chunk / chunks); };
        std::vector<std::vector<int>> counts(static_cast<std::size_t>(chunks), std::vector<int>(cell_count, 0));
        util::parallel_for(chunks, chunks, [&](int chunk) {
            std::vector<int>& c = counts[static_cast<std::size_t>(chunk)];
            for (int k = chunk_begin(chunk); k < chunk_begin(chunk + 1); ++k)
                ++c[grid.cell(centre(boxes[static_cast<std::size_t>(k)]))];
        });
        std::vector<cell> cells;
        for (const cell_run& run : place_cells(counts, begin)) cells.push_back({run.begin, run.end, {}, -1});
        box_list sorted(static_cast<std::size_t>(count));
        util::parallel_for(chunks, chunks, [&](int chunk) {
            std::vector<int>& to = counts[static_cast<std::size_t>(chunk)];
            for (int k = chunk_begin(chunk); k < chunk_begin(chunk + 1); ++k) {
                const vbox& b = boxes[static_cast<std::size_t>(k)];
                sorted.put(static_cast<std::size_t>(to[grid.cell(centre(b))]++ - begin), b);
            }
        });
        if (begin == 0 && static_cast<std::size_t>(count) == boxes.size())
            boxes.swap(sorted);
        else
            std::memcpy(boxes.data() + begin, sorted.data(), sizeof(vbox) * static_cast<std::size_t>(count));
        return cells;
    }

    // Builds one cell's run; returns its root.
    int build_cell(cell& c, int depth, int cell_threads) {
        for (int k = c.begin; k < c.end; ++k) c.bounds.take(boxes[static_cast<std::size_t>(k)]);
        clusterer inner{boxes, nodes, cell_threads};
        return inner.build(c.begin, c.end, depth, c.bounds);
    }

    // The tree over cells[begin, end): split where the heuristic on the
    // cells' boxes, weighted by their triangles, is cheapest; past the depth
    // limit, at the middle cell.
    int join(std::vector<cell>& cells, int begin, int end, int depth) {
        if (end - begin == 1) return cells[static_cast<std::size_t>(begin)].root;
        auto at = [&](int k) -> const cell& { return cells[static_cast<std::size_t>(k)]; };
        int best_axis = -1, best_mid = begin + (end - begin) / 2;
        if (depth < join_depth_limit) {
            float best_cost = 0.0f;
            std::vector<float> right(static_cast<std::size_t>(end - begin));
            for (int a = 0; a < 3; ++a) {
                sort_by_axis(cells, begin, end, a);
                vbox acc;
                int n = 0;
                for (int k = end - 1; k > begin; --k) {
                    acc.grow(at(k).bounds.bounds);
                    n += at(k).end - at(k).begin;
                    right[static_cast<std::size_t>(k - begin)] = half_area(acc) * static_cast<float>(n);
                }
                acc = vbox();
                n = 0;
                for (int k = begin; k + 1 < end; ++k) {
                    acc.grow(at(k).bounds.bounds);
                    n += at(k).end - at(k).begin;
                    const float cost = half_area(acc) * static_cast<float>(n) + right[static_cast<std::size_t>(k + 1 - begin)];
                    if (best_axis < 0 || cost < best_cost) {
                        best_cost = cost;
                        best_axis = a;
                        best_mid = k + 1;
                    }
                }
            }
        }
        sort_by_axis(cells, begin, end, best_axis < 0 ? 0 : best_axis);
        const int l = join(cells, begin, best_mid, depth + 1);
        const int r = join(cells, best_mid, end, depth + 1);
        vbox bounds;
        for (int k = begin; k < end; ++k) bounds.grow(at(k).bounds.bounds);
        return nodes.take(binary_node::make(bounds, l, r));
    }

    static void sort_by_axis(std::vector<cell>& cells, int begin, int end, int axis) {
        std::sort(cells.begin() + begin, cells.begin() + end, [axis](const cell& x, const cell& y) {
            alignas(16) float cx[4], cy[4];
            _mm_store_ps(cx, centre(x.bounds.bounds));
            _mm_store_ps(cy, centre(y.bounds.bounds));
            return cx[axis] < cy[axis] || (cx[axis] == cy[axis] && x.begin < y.begin);
        });
    }

    int build(int begin, int end, int depth, const part& whole) {
        if (end - begin < cluster_threshold || depth >= sah_depth_limit)
            return build_sah(boxes, begin, end, whole, depth, threads, nodes);
        std::vector<cell> cells = sort_into_cells(begin, end, whole);
        if (cells.size() == 1) return build_sah(boxes, begin, end, whole, depth, threads, nodes);
        return build_cells(cells, depth);
    }

    int build_cells(std::vector<cell>& cells, int depth) {
        // Cells large enough to be cut up again get every thread in turn;
        // the rest are shared out, one thread each.
        const int below = depth + 2 * join_depth_limit;
        std::vector<int> small;
        for (std::size_t c = 0; c < cells.size(); ++c) {
            if (cells[c].end - cells[c].begin >= cluster_threshold)
                cells[c].root = build_cell(cells[c], below, threads);
            else
                small.push_back(static_cast<int>(c));
        }
        util::parallel_for(static_cast<int>(small.size()), threads, [&](int k) {
            const std::size_t c = static_cast<std::size_t>(small[static_cast<std::size_t>(k)]);
            cells[c].root = build_cell(cells[c], below, 1);
        });
        return join(cells, 0, static_cast<int>(cells.size()), depth);
    }
};

}  // namespace

int build_binary_tree(box_list& boxes, const part& whole, int threads, node_arena& nodes,
                      const std::vector<cell_run>* runs) {
    clusterer c{boxes, nodes, threads};
    if (runs == nullptr || runs->size() < 2) return c.build(0, static_cast<int>(boxes.size()), 0, whole);
    std::vector<cell> cells;
    for (const cell_run& r : *runs) cells.push_back({r.begin, r.end, {}, -1});
    return c.build_cells(cells, 0);
}
