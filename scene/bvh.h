#pragma once

#include <cstdint>
#include <vector>

#include "math/ray.h"
#include "scene/large_allocator.h"

class triangle;

// One node of a four-wide bounding volume hierarchy: the boxes of up to four
// children side by side (lo x, y, z, then hi x, y, z, four lanes each), so
// one ray meets all four boxes in a handful of vector instructions.
// A child is either another node (its index, >= 0) or a leaf (bit 31 set,
// the first entry in `bvh::leaf_triangles` in bits 4..30 and the count
// minus one in bits 0..3). Unused lanes hold empty boxes and are masked out.
struct alignas(64) bvh_node {
    float bounds[6][4];
    std::int32_t child[4];
    std::int32_t child_count;
};

// What a leaf tests: a copy of one triangle's fields for the ray test
// (triangle.h), one cache line each, stored in leaf order so that a leaf's
// triangles sit side by side instead of wherever the mesh put them.
struct alignas(64) leaf_record {
    vector3 normal;
    float offset = 0.0f;
    vector3 vertex[1];  // the first corner only, under the triangle's own name
    vector3 edge1;
    vector3 edge2;
    float dot11 = 0.0f;
    float dot22 = 0.0f;
    float dot12 = 0.0f;
};

// An exact acceleration structure for a fixed list of triangles: for every
// ray and incoming distance, intersect_bvh reports what testing the
// triangles one by one in index order reports (same code, same distance bit
// for bit, same triangle). It only decides which triangles to skip; every
// hit still comes from the triangle test itself (intersect_triangle, the
// arithmetic of triangle::intersect, on the leaves' compact copies).
struct bvh {
    std::vector<bvh_node, large_allocator<bvh_node>> nodes;            // node 0 is the root
    std::vector<triangle*, large_allocator<triangle*>> leaf_triangles;  // in leaf order
    std::vector<std::int32_t, large_allocator<std::int32_t>> leaf_index;  // their indices in the list
    std::vector<leaf_record, large_allocator<leaf_record>> leaf_records;  // their geometry, what is tested
    // Triangles too ill-shaped for a trustworthy box; tested on every ray.
    std::vector<triangle*> loose_triangles;
    std::vector<std::int32_t> loose_index;
    float extent = 0.0f;                     // largest magnitude of any box coordinate
};

// Builds the hierarchy over triangles[0 .. count-1] with a binned surface
// area heuristic, on up to `threads` threads (0: one per hardware thread).
// Deterministic: the same list gives the same tree, whatever the threads.
// Triangles with a zero normal can never be hit and are left out.
void build_bvh(bvh& tree, triangle* const* triangles, int count, int threads = 0);

// The nearest hit strictly nearer than `distance` and beyond 0; of equal
// distances the lower index. On a hit lowers `distance`, stores the index in
// `hit_index` and returns the triangle's code; otherwise returns 0 and
// touches neither. Safe to call from several threads at once.
int intersect_bvh(const bvh& tree, const ray& r, float& distance, int& hit_index);
