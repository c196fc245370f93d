#pragma once

// Grids over the triangles' (doubled) centres: a coarse one for sorting
// large inputs into cells before the heuristic sees them (clusters.cpp),
// and a fine one whose cell numbers are the Morton build's codes
// (morton_keys.cpp). Cells are numbered with each axis's coordinate
// interleaved bit by bit, so that cells close in the grid are close in
// the array too.

#include <emmintrin.h>

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bvh/build/box.h"
#include "bvh/build/config.h"
#include "util/index_range.h"

namespace bvh_build {

// A grid of 2^bits cells an axis over a box of (doubled) centres; a
// centre's cell number interleaves the axes' cell coordinates bit by bit,
// x lowest: its Morton code.
template <int bits>
struct morton_grid {
    static_assert(bits >= 1 && bits <= 10, "three axes' codes fit in 30 bits");

    __m128 lo;
    __m128 scale;

    // Over the box that holds every centre.
    explicit morton_grid(const vbox& centres) : lo(centres.lo) {
        alignas(16) float l[4], h[4], s[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        _mm_store_ps(l, centres.lo);
        _mm_store_ps(h, centres.hi);
        for (int a = 0; a < 3; ++a)
            if (h[a] > l[a]) s[a] = static_cast<float>(1 << bits) / (h[a] - l[a]);
        scale = _mm_load_ps(s);
    }

    std::uint32_t cell(__m128 doubled_centre) const {
        const __m128 last = _mm_set1_ps(static_cast<float>((1 << bits) - 1));
        const __m128 k = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_sub_ps(doubled_centre, lo), scale), _mm_setzero_ps()), last);
        alignas(16) std::int32_t xyz[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(xyz), _mm_cvttps_epi32(k));
        return spread(xyz[0]) | spread(xyz[1]) << 1 | spread(xyz[2]) << 2;
    }

    // The low ten bits of x, two zero bits after each.
    static std::uint32_t spread(std::int32_t coordinate) {
        std::uint32_t x = static_cast<std::uint32_t>(coordinate) & 0x3ffu;
        x = (x | (x << 16)) & 0x030000ffu;
        x = (x | (x << 8)) & 0x0300f00fu;
        x = (x | (x << 4)) & 0x030c30c3u;
        x = (x | (x << 2)) & 0x09249249u;
        return x;
    }
};

// The coarse grid large inputs are first sorted into.
using cell_grid = morton_grid<config::grid_bits>;

// Turns each chunk's count of boxes per cell into where that chunk's share
// of the cell starts, counting from `begin`: cells in order, and within a
// cell the chunks in order, so the sort that follows is stable and the
// result does not depend on the threads. Returns the occupied cells' runs
// of the array, in cell order.
inline std::vector<util::index_range> place_cells(std::vector<std::vector<int>>& counts, int begin) {
    std::vector<util::index_range> runs;
    int at = begin;
    for (std::size_t c = 0; c < static_cast<std::size_t>(config::cell_count); ++c) {
        const int first = at;
        for (std::vector<int>& chunk_counts : counts) {
            const int n = chunk_counts[c];
            chunk_counts[c] = at;
            at += n;
        }
        if (at > first) runs.push_back({first, at});
    }
    return runs;
}

// Debug and sanitizer builds check that a counting sort left every entry
// of each run in the run's cell (cell_of(k): the cell of entry k), and the
// runs in cell order.
template <typename cell_of_type>
void check_cell_order(const std::vector<util::index_range>& runs, const cell_of_type& cell_of) {
#ifndef NDEBUG
    for (std::size_t r = 0; r < runs.size(); ++r) {
        const std::uint32_t cell = cell_of(runs[r].begin);
        assert((r == 0 || cell > cell_of(runs[r - 1].begin)) && "grid cells out of order");
        for (int k = runs[r].begin; k < runs[r].end; ++k) assert(cell_of(k) == cell && "an entry outside its cell's run");
    }
#else
    (void)runs;
    (void)cell_of;
#endif
}

}  // namespace bvh_build
