#include <immintrin.h>

#include <atomic>
#include <cassert>
#include <cstdint>

#include "bvh/bvh.h"
#include "bvh/packet_isa.h"
#include "bvh/traverse_steps.h"
#include "ray_triangle/packet.h"

// The packet walks (packet_walk.h), and the pick among them. The lanes are
// GCC vector extensions, sixteen floats: the walk is compiled once for the
// baseline instruction set and once for each wider one (AVX2, AVX-512),
// and the widest the processor has is picked when first needed
// (packet_isa.h). Every operation on a lane is an IEEE one, so the answers
// do not depend on the pick.
//
// Each walk is compiled whole under its set's target, its lanes' helpers
// included. Only code compiled for AVX-512 can compare into a mask
// register (bits_less), and GCC optimizes a helper for the set it is
// defined under before inlining it: with the helpers defined once, for the
// baseline, the bunny's packet render took 2 to 3% longer.

static_assert(packet_size == 16, "a packet's rays are the lanes of sixteen-float vectors and the bits of 16-bit masks");

namespace {

// The walk for each instruction set, each in a namespace of its own.
namespace baseline_walk {
constexpr packet_isa isa = packet_isa::baseline;
#include "bvh/packet_walk.h"
}  // namespace baseline_walk

#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2_walk {
constexpr packet_isa isa = packet_isa::avx2;
#include "bvh/packet_walk.h"
}  // namespace avx2_walk
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx512f,avx512dq,avx512bw,avx512vl")
namespace avx512_walk {
constexpr packet_isa isa = packet_isa::avx512;
#include "bvh/packet_walk.h"
}  // namespace avx512_walk
#pragma GCC pop_options

// The walk's entries for one instruction set.
struct packet_walk {
    decltype(&baseline_walk::intersect) intersect;
    decltype(&baseline_walk::occluded) occluded;
};

const packet_walk* walk_for(packet_isa isa) {
    static const packet_walk baseline{baseline_walk::intersect, baseline_walk::occluded};
    static const packet_walk avx2{avx2_walk::intersect, avx2_walk::occluded};
    static const packet_walk avx512{avx512_walk::intersect, avx512_walk::occluded};
    switch (isa) {
    case packet_isa::avx512: return &avx512;
    case packet_isa::avx2: return &avx2;
    case packet_isa::baseline: break;
    }
    return &baseline;
}

packet_isa widest_isa() {
    for (packet_isa isa : {packet_isa::avx512, packet_isa::avx2})
        if (packet_isa_supported(isa)) return isa;
    return packet_isa::baseline;
}

// The walk in use: the widest the processor has, unless a test said otherwise.
std::atomic<const packet_walk*> chosen_walk{nullptr};

const packet_walk& walk_in_use() {
    const packet_walk* walk = chosen_walk.load(std::memory_order_relaxed);
    if (!walk) {
        walk = walk_for(widest_isa());
        chosen_walk.store(walk, std::memory_order_relaxed);
    }
    return *walk;
}

}  // namespace

bool packets_pay_off() { return widest_isa() == packet_isa::avx512; }

bool packet_isa_supported(packet_isa isa) {
    __builtin_cpu_init();
    switch (isa) {
    case packet_isa::avx512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
               __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
    case packet_isa::avx2: return __builtin_cpu_supports("avx2");
    case packet_isa::baseline: break;
    }
    return true;
}

bool use_packet_isa(packet_isa isa) {
    if (!packet_isa_supported(isa)) return false;
    chosen_walk.store(walk_for(isa), std::memory_order_relaxed);
    return true;
}

unsigned intersect_bvh_packet(const bvh& tree, const ray_packet& in, unsigned active, float* distances, bvh_hit* hits) {
    if (tree.nodes.empty()) return 0;
    return walk_in_use().intersect(tree, in, active, distances, hits);
}

unsigned occluded_bvh_packet(const bvh& tree, const ray_packet& in, unsigned active, const float* distances) {
    if (tree.nodes.empty()) return 0;
    return walk_in_use().occluded(tree, in, active, distances);
}
