#include <xmmintrin.h>

#include <algorithm>
#include <stdexcept>

#include "scene/bvh.h"
#include "scene/bvh_build_parts.h"
#include "scene/parallel_for.h"

namespace {

constexpr int parallel_threshold = 4096;  // fewer packets are not worth a thread

// Folds the binary tree into four-wide nodes, depth first: each node adopts
// the children of its largest inner children until it has four. Leaves get
// their slots in the packet and sliver arrays in the same order; what goes
// in them is listed (triangle indices, -1 for an empty lane) and filled in
// afterwards.
struct folder {
    const node_arena& in;
    const box_list& boxes;
    decltype(bvh::nodes)& out;
    std::vector<std::int32_t, large_allocator<std::int32_t>> packet_lanes;  // four per packet
    std::vector<std::int32_t, large_allocator<std::int32_t>> sliver_faces;

    bvh_child leaf(const binary_node& n) {
        const int first = -1 - n.a, count = n.b;
        const bool slivers = is_sliver(boxes[static_cast<std::size_t>(first)]);
        const std::size_t slot = slivers ? sliver_faces.size() : packet_lanes.size() / 4;
        if (slot + static_cast<std::size_t>(count) > bvh_child::max_first)
            throw std::length_error("too many triangles for the hierarchy's leaves");
        for (int k = first; k < first + count; ++k) {
            const std::int32_t face = static_cast<std::int32_t>(tag_of(boxes[static_cast<std::size_t>(k)]) & ~sliver_tag);
            (slivers ? sliver_faces : packet_lanes).push_back(face);
        }
        if (slivers) return bvh_child::leaf(static_cast<std::uint32_t>(slot), count, true);
        while (packet_lanes.size() % 4 != 0) packet_lanes.push_back(-1);
        return bvh_child::leaf(static_cast<std::uint32_t>(slot), (count + 3) / 4, false);
    }

    int emit(const int* kids_in, int kid_count_in) {
        int kids[4];
        int kid_count = kid_count_in;
        std::copy(kids_in, kids_in + kid_count_in, kids);
        while (kid_count < 4) {
            int widest = -1;
            float widest_area = -1.0f;
            for (int i = 0; i < kid_count; ++i) {
                const binary_node& n = in[kids[i]];
                if (n.leaf()) continue;
                const float area = half_area(n.bounds());
                if (area > widest_area) {
                    widest_area = area;
                    widest = i;
                }
            }
            if (widest < 0) break;
            const binary_node& n = in[kids[widest]];
            kids[widest] = n.a;
            kids[kid_count++] = n.b;
        }

        const int index = static_cast<int>(out.size());
        out.emplace_back();
        bvh_child codes[4];
        for (int i = 0; i < kid_count; ++i) {
            const binary_node& n = in[kids[i]];
            if (n.leaf()) {
                codes[i] = leaf(n);
            } else {
                const int pair[2] = {n.a, n.b};
                codes[i] = bvh_child::node(static_cast<std::uint32_t>(emit(pair, 2)));
            }
        }
        bvh_node& node = out[static_cast<std::size_t>(index)];
        for (int i = 0; i < 4; ++i) {
            // Unused lanes get an empty box; child_count masks them anyway.
            const vbox b = i < kid_count ? in[kids[i]].bounds() : vbox();
            alignas(16) float lo[4], hi[4];
            _mm_store_ps(lo, b.lo);
            _mm_store_ps(hi, b.hi);
            for (int a = 0; a < 3; ++a) {
                node.bounds[a][i] = lo[a];
                node.bounds[3 + a][i] = hi[a];
            }
            node.child[i] = i < kid_count ? codes[i] : bvh_child{};
        }
        node.child_count = kid_count;
        return index;
    }
};

vector3 corner_of(const mesh& m, std::int32_t k, int j) { return m.vertices[m.faces[k].vertex[j]]; }

// A packet's lanes get the fields prepare_triangle gives a regular
// triangle, computed the same way (the tests compare them field by field).
void fill_packet(const mesh& m, const std::int32_t* lanes, triangle_packet& p) {
    for (int lane = 0; lane < 4; ++lane) {
        p.index[lane] = lanes[lane];
        vector3 v0, e1, e2, normal;  // an empty lane: the zero normal meets nothing
        float offset = 0.0f;
        if (lanes[lane] >= 0) {
            v0 = corner_of(m, lanes[lane], 0);
            e1 = corner_of(m, lanes[lane], 1) - v0;
            e2 = corner_of(m, lanes[lane], 2) - v0;
            normal = normalize(cross(e1, e2));
            offset = dot(normal, v0);
        }
        const vector3* fields[4] = {&normal, &v0, &e1, &e2};
        float (*rows[4])[4] = {p.normal, p.vertex, p.edge1, p.edge2};
        for (int f = 0; f < 4; ++f) {
            rows[f][0][lane] = fields[f]->x;
            rows[f][1][lane] = fields[f]->y;
            rows[f][2][lane] = fields[f]->z;
        }
        p.offset[lane] = offset;
    }
}

void fill_sliver(const mesh& m, std::int32_t k, sliver_record& r) {
    vector3 corner[3];
    for (int j = 0; j < 3; ++j) corner[j] = corner_of(m, k, j);
    const triangle_setup s = prepare_triangle(corner, cross(corner[1] - corner[0], corner[2] - corner[0]));
    for (int j = 0; j < 3; ++j) r.vertex[j] = s.vertex[j];
    r.plane = s.plane;
    r.normal = s.normal;
    r.index = k;
}

}  // namespace

void fold_tree(const mesh& m, box_list& boxes, node_arena& nodes, int root, int threads, bvh& tree) {
    folder f{nodes, boxes, tree.nodes, {}, {}};
    f.packet_lanes.reserve(boxes.size() + boxes.size() / 2);
    tree.nodes.reserve(boxes.size() / 3 + 1);
    if (nodes[root].leaf()) {
        f.emit(&root, 1);  // a lone leaf still sits under a root node
    } else {
        const int pair[2] = {nodes[root].a, nodes[root].b};
        f.emit(pair, 2);
    }
    // The boxes and the binary tree are done with: free them before the
    // leaves are filled, so those can reuse the pages.
    boxes.release();
    nodes.release();

    tree.packets.resize(f.packet_lanes.size() / 4);
    tree.slivers.resize(f.sliver_faces.size());
    const int packet_count = static_cast<int>(tree.packets.size());
    const int chunks = packet_count >= parallel_threshold ? threads : 1;
    parallel_for(chunks, chunks, [&](int chunk) {
        const int begin = static_cast<int>(static_cast<long long>(packet_count) * chunk / chunks);
        const int end = static_cast<int>(static_cast<long long>(packet_count) * (chunk + 1) / chunks);
        for (int k = begin; k < end; ++k)
            fill_packet(m, &f.packet_lanes[4 * static_cast<std::size_t>(k)], tree.packets[static_cast<std::size_t>(k)]);
    });
    const int sliver_count = static_cast<int>(tree.slivers.size());
    const int sliver_chunks = sliver_count >= parallel_threshold ? threads : 1;
    parallel_for(sliver_chunks, sliver_chunks, [&](int chunk) {
        const int begin = static_cast<int>(static_cast<long long>(sliver_count) * chunk / sliver_chunks);
        const int end = static_cast<int>(static_cast<long long>(sliver_count) * (chunk + 1) / sliver_chunks);
        for (int k = begin; k < end; ++k)
            fill_sliver(m, f.sliver_faces[static_cast<std::size_t>(k)], tree.slivers[static_cast<std::size_t>(k)]);
    });
}
