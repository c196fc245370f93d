#include "bvh/build/corners.h"
#include "bvh/build/stages.h"
#include "bvh/packet_fill.h"
#include "util/parallel_for.h"

namespace bvh_build {

namespace {

void fill_sliver(const mesh& m, std::int32_t k, sliver_record& r) {
    vector3 corner[3];
    for (int j = 0; j < 3; ++j) corner[j] = mesh_corner(m, k, j);
    const triangle_setup s = prepare_triangle(corner, cross(corner[1] - corner[0], corner[2] - corner[0]));
    for (int j = 0; j < 3; ++j) r.vertex[j] = s.vertex[j];
    r.plane = s.plane;
    r.normal = s.normal;
    r.index = k;
}

// How many packets ahead the fill starts a packet's corners on their way.
constexpr int prefetch_packets = 4;

}  // namespace

void fill_leaves(const mesh& m, const leaf_faces& faces, const config& c, bvh& tree) {
    tree.packets.resize(faces.packet_lanes.size() / 4);
    tree.slivers.resize(faces.slivers.size());
    const int packet_count = static_cast<int>(tree.packets.size());
    util::parallel_for({0, packet_count}, c.chunks_for(packet_count), c.threads, [&](int, util::index_range run) {
        for (int k = run.begin; k < run.end; ++k) {
            const std::int32_t* lanes = &faces.packet_lanes[4 * static_cast<std::size_t>(k)];
            if (k + prefetch_packets < run.end) {
                for (int lane = 0; lane < 4; ++lane) {
                    const std::int32_t face = lanes[4 * prefetch_packets + lane];
                    if (face >= 0) prefetch_corners(m, face);
                }
            }
            fill_packet(m, lanes, tree.packets[static_cast<std::size_t>(k)]);
        }
    });
    const int sliver_count = static_cast<int>(tree.slivers.size());
    util::parallel_for({0, sliver_count}, c.chunks_for(sliver_count), c.threads, [&](int, util::index_range run) {
        for (int k = run.begin; k < run.end; ++k)
            fill_sliver(m, faces.slivers[static_cast<std::size_t>(k)], tree.slivers[static_cast<std::size_t>(k)]);
    });
}

}  // namespace bvh_build
