#include <xmmintrin.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "bvh/build/grid.h"
#include "bvh/build/stages.h"
#include "util/parallel_for.h"

// The top levels of a binned heuristic each stream the whole box array from
// memory twice, and on a mesh of millions of triangles that traffic is most
// of the build. So a large input is first sorted, once, into the cells of a
// 16 x 16 x 16 grid over the triangles' centres (a counting sort); each
// cell's run is then built by the heuristic on its own, while it fits in
// the caches; a small tree over the cells, by the same heuristic on the
// cells' boxes, joins them. A cell still too large is cut up the same way.

namespace bvh_build {

namespace {

constexpr int join_depth_limit = config::join_depth_limit;

// One occupied cell: its run of the box array and, once built, its bounds,
// its triangle count and its subtree's root.
struct cell {
    util::index_range run;
    part bounds;
    int root = -1;
};

std::vector<cell> cells_of(const std::vector<util::index_range>& runs) {
    std::vector<cell> cells;
    for (const util::index_range& run : runs) cells.push_back({run, {}, -1});
    return cells;
}

struct clusterer {
    box_list& boxes;
    node_arena& nodes;
    const config& c;
    int threads;

    // Sorts boxes[begin, end) by cell, stably; returns the occupied cells
    // in cell order.
    std::vector<cell> sort_into_cells(int begin, int end, const part& whole) {
        const cell_grid grid(whole.centres);
        auto cell_of = [&](const vbox& b) { return grid.cell(centre(b)); };

        const int count = end - begin;
        const int chunks = threads;
        std::vector<std::vector<int>> counts(static_cast<std::size_t>(chunks), std::vector<int>(config::cell_count, 0));
        util::parallel_for({begin, end}, chunks, chunks, [&](int chunk, util::index_range run) {
            std::vector<int>& n = counts[static_cast<std::size_t>(chunk)];
            for (int k = run.begin; k < run.end; ++k) ++n[cell_of(boxes[static_cast<std::size_t>(k)])];
        });
        const std::vector<util::index_range> runs = place_cells(counts, begin);
        box_list sorted(static_cast<std::size_t>(count));
        util::parallel_for({begin, end}, chunks, chunks, [&](int chunk, util::index_range run) {
            std::vector<int>& to = counts[static_cast<std::size_t>(chunk)];
            for (int k = run.begin; k < run.end; ++k) {
                const vbox& b = boxes[static_cast<std::size_t>(k)];
                sorted.put(static_cast<std::size_t>(to[cell_of(b)]++ - begin), b);
            }
        });
        if (begin == 0 && static_cast<std::size_t>(count) == boxes.size())
            boxes.swap(sorted);
        else
            std::memcpy(boxes.data() + begin, sorted.data(), sizeof(vbox) * static_cast<std::size_t>(count));
        check_cell_order(runs, [&](int k) { return cell_of(boxes[static_cast<std::size_t>(k)]); });
        return cells_of(runs);
    }

    // Builds one cell's run; returns its root.
    int build_cell(cell& cl, int depth, int cell_threads) {
        for (int k = cl.run.begin; k < cl.run.end; ++k) cl.bounds.take(boxes[static_cast<std::size_t>(k)]);
        clusterer inner{boxes, nodes, c, cell_threads};
        return inner.build(cl.run.begin, cl.run.end, depth, cl.bounds);
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
                    n += at(k).run.size();
                    right[static_cast<std::size_t>(k - begin)] = half_area(acc) * static_cast<float>(n);
                }
                acc = vbox();
                n = 0;
                for (int k = begin; k + 1 < end; ++k) {
                    acc.grow(at(k).bounds.bounds);
                    n += at(k).run.size();
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
        return nodes.take(binary_node::inner(bounds, l, r));
    }

    static void sort_by_axis(std::vector<cell>& cells, int begin, int end, int axis) {
        std::sort(cells.begin() + begin, cells.begin() + end, [axis](const cell& x, const cell& y) {
            alignas(16) float cx[4], cy[4];
            _mm_store_ps(cx, centre(x.bounds.bounds));
            _mm_store_ps(cy, centre(y.bounds.bounds));
            return cx[axis] < cy[axis] || (cx[axis] == cy[axis] && x.run.begin < y.run.begin);
        });
    }

    int build(int begin, int end, int depth, const part& whole) {
        if (end - begin < c.cluster_threshold || depth >= config::sah_depth_limit)
            return build_sah(boxes, {begin, end}, whole, depth, threads, c, nodes);
        std::vector<cell> cells = sort_into_cells(begin, end, whole);
        if (cells.size() == 1) return build_sah(boxes, {begin, end}, whole, depth, threads, c, nodes);
        return build_cells(cells, depth);
    }

    int build_cells(std::vector<cell>& cells, int depth) {
        // Cells large enough to be cut up again get every thread in turn;
        // the rest are shared out, one thread each.
        const int below = depth + 2 * join_depth_limit;
        std::vector<int> small;
        for (std::size_t k = 0; k < cells.size(); ++k) {
            if (cells[k].run.size() >= c.cluster_threshold)
                cells[k].root = build_cell(cells[k], below, threads);
            else
                small.push_back(static_cast<int>(k));
        }
        const int small_count = static_cast<int>(small.size());
        util::parallel_for({0, small_count}, small_count, threads, [&](int k, util::index_range) {
            cell& cl = cells[static_cast<std::size_t>(small[static_cast<std::size_t>(k)])];
            cl.root = build_cell(cl, below, 1);
        });
        return join(cells, 0, static_cast<int>(cells.size()), depth);
    }
};

}  // namespace

int build_binary_tree(box_list& boxes, const part& whole, const config& c, node_arena& nodes,
                      const std::vector<util::index_range>& cells) {
    clusterer top{boxes, nodes, c, c.threads};
    if (cells.size() < 2) return top.build(0, static_cast<int>(boxes.size()), 0, whole);
    std::vector<cell> sorted = cells_of(cells);
    return top.build_cells(sorted, 0);
}

}  // namespace bvh_build
