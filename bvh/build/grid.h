#pragma once

// A coarse grid over the triangles' (doubled) centres, for sorting large
// inputs into cells before the heuristic sees them (clusters.cpp). Cells
// are numbered with each axis's coordinate interleaved bit by bit, so that
// cells close in the grid are close in the array too.

#include <emmintrin.h>

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bvh/build/box.h"
#include "bvh/build/config.h"
#include "util/index_range.h"

namespace bvh_build {

struct cell_grid {
    static constexpr int bits = config::grid_bits;

    __m128 lo;
    __m128 scale;

    // Over the box that holds every centre.
    explicit cell_grid(const vbox& centres) : lo(centres.lo) {
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
        std::uint32_t c = 0;
        for (int bit = 0; bit < bits; ++bit)
            for (int a = 0; a < 3; ++a) c |= ((static_cast<std::uint32_t>(xyz[a]) >> bit) & 1u) << (3 * bit + a);
        return c;
    }
};

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
