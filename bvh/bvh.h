#pragma once

// The hierarchy over a mesh's triangles: what code outside bvh/ includes.

#include <cstdint>
#include <vector>

#include "bvh/node.h"
#include "bvh/reach.h"
#include "math/ray.h"
#include "math/ray_packet.h"
#include "mesh/mesh.h"
#include "ray_triangle/packet.h"
#include "ray_triangle/setup.h"
#include "util/mapped_array.h"

// A sliver in a leaf: its corners and its double-precision plane for
// intersect_sliver, and its unit normal for shading.
struct sliver_record {
    vector3 vertex[3];
    double3 plane;
    vector3 normal;
    std::int32_t index = -1;  // the triangle's index in the mesh
};

// An exact acceleration structure over a mesh's triangles: for every ray and
// incoming distance, intersect_bvh reports what testing the triangles one by
// one in index order reports (same code, same distance bit for bit, same
// triangle). It only decides which triangles to skip; every hit comes from
// the triangles' own tests (ray_triangle/).
//
// Its leaves come in one of two forms. A packet tree's leaves hold copies of
// their triangles' fields, four triangles a packet, and sliver records (56
// bytes a triangle): quickest to trace. A compact tree's leaves name their
// triangles in the mesh, and the fields are made from the corners as a
// leaf is tested, by the code that fills a packet tree's leaves (4 bytes a
// triangle): quick to build, and small.
struct bvh {
    std::vector<bvh_node, util::big_allocator<bvh_node>> nodes;  // node 0 is the root
    // A packet tree's leaves.
    std::vector<triangle_packet, util::big_allocator<triangle_packet>> packets;
    std::vector<sliver_record, util::big_allocator<sliver_record>> slivers;
    // A compact tree's leaves: the mesh index of each triangle, and the
    // mesh (not owned: it must outlive the tree, unchanged). Which test a
    // triangle gets is worked out as it is tested.
    std::vector<std::int32_t, util::big_allocator<std::int32_t>> triangles;
    mesh source;

    bool compact() const { return !triangles.empty(); }
};

// How build_bvh builds: chosen from the mesh's size, or named.
enum class bvh_method : std::uint8_t {
    automatic,
    // A binned surface area heuristic, leaves of packets: the better tree.
    surface_area,
    // The triangles sorted along a Morton curve over their centres and cut
    // where the codes differ, compact leaves: several times quicker to build
    // and far smaller, for a somewhat slower render.
    morton,
};

// The method that costs least, building and then tracing pictures of
// `primary_rays` primary rays in all (0: one 800 x 600 picture), for a mesh
// of `triangles` triangles: Morton order while the heuristic's build would
// cost more than its quicker tree saves on those rays (bvh/build/config.h).
bvh_method automatic_method(std::int64_t triangles, std::int64_t primary_rays = 0);

// Builds the hierarchy over the mesh's triangles on up to `threads` threads
// (0: one per hardware thread), by `method` (automatic: automatic_method for
// one 800 x 600 picture). Deterministic: the same mesh
// gives the same tree, whatever the threads. Triangles with a zero normal
// can never be hit and are left out. Throws std::bad_alloc when memory runs
// out, std::length_error for a mesh beyond what the leaves can name.
void build_bvh(bvh& tree, const mesh& m, int threads = 0, bvh_method method = bvh_method::automatic);

// The triangle a hit landed on: its index in the mesh and its unit normal.
struct bvh_hit {
    std::int32_t index = -1;
    vector3 normal;
};

// The nearest hit strictly nearer than `distance` and beyond 0; of equal
// distances the lower index. On a hit lowers `distance`, fills `hit` and
// returns the triangle's code; otherwise returns 0 and touches neither.
// Safe to call from several threads at once.
int intersect_bvh(const bvh& tree, const ray& r, float& distance, bvh_hit& hit);

// intersect_bvh on each ray k of `rays` whose bit is set in `active`, with
// distances[k] as its distance and hits[k] its hit; returns the bits of
// the rays that hit. Every ray's answer is intersect_bvh's, bit for bit.
// The arrays have room for packet_size rays (the entries of rays not in
// `active` are read but neither used nor changed). The packet walks the
// tree once, each node testing the rays that reached it: quickest for rays
// from one point, or side by side, that meet the same boxes.
unsigned intersect_bvh_packet(const bvh& tree, const ray_packet& rays, unsigned active, float* distances, bvh_hit* hits);

// For each ray of `rays` whose bit is set in `active`: whether
// intersect_bvh would report a hit nearer than distances[k]; returns the
// bits of those that would. Each ray stops at the first hit it finds.
unsigned occluded_bvh_packet(const bvh& tree, const ray_packet& rays, unsigned active, const float* distances);

// Whether the packet walks beat single rays on this processor. They keep
// a packet's sixteen lanes in one register only with AVX-512; built for
// AVX2 or the baseline they took two to three times as long as single
// rays on the bunny (docs/performance.md).
bool packets_pay_off();
