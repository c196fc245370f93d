#include <xmmintrin.h>

#include <algorithm>
#include <cfloat>
#include <new>
#include <stdexcept>
#include <vector>

#include "scene/bvh.h"
#include "scene/bvh_build_parts.h"
#include "util/parallel_for.h"

namespace {

constexpr int parallel_threshold = 4096;  // fewer packets are not worth a thread

// Folds the binary tree into four-wide nodes, depth first: each node adopts
// the children of its largest inner children until it has four. Leaves get
// their slots in the packet and sliver arrays in the same order; their
// triangles' indices are listed (four a packet, -1 in an empty lane), and
// the packets and records themselves are filled in afterwards, once the
// boxes and the binary tree are freed: that keeps them out of the peak.
//
// The work is shared out like this: a first walk over the top levels lists
// the subtrees below them (the tasks) and counts the top's own nodes and
// leaves; each task is then counted on its own, in parallel, by a walk that
// writes nothing; a second walk over the top, knowing those sizes, gives
// each task the very slots the serial fold would give it; last, the tasks
// are folded into their slots in parallel. The result is the serial fold's,
// slot for slot.

struct fold_counts {
    std::size_t nodes = 0;
    std::size_t packets = 0;
    std::size_t slivers = 0;

    fold_counts& operator+=(const fold_counts& o) {
        nodes += o.nodes;
        packets += o.packets;
        slivers += o.slivers;
        return *this;
    }
};

// Where the fold writes; null everywhere while it only counts.
struct fold_out {
    bvh_node* nodes = nullptr;
    std::int32_t* lanes = nullptr;    // four a packet
    std::int32_t* slivers = nullptr;  // one a record
};

struct folder {
    const node_arena& in;
    const box_list& boxes;
    fold_out out;
    fold_counts at;  // the next free slot of each kind

    // Inner nodes met this many levels below the walk's start are tasks
    // (-1: none): the counting walk lists them, the writing walk places
    // them, each at the size it was told.
    int frontier = -1;
    std::vector<int>* tasks = nullptr;
    const std::vector<fold_counts>* sizes = nullptr;
    std::vector<fold_counts>* starts = nullptr;
    std::size_t next_task = 0;

    bvh_child leaf(const binary_node& n) {
        const int first = -1 - n.a, count = n.b;
        const bool slivers = is_sliver(boxes[static_cast<std::size_t>(first)]);
        const std::size_t slot = slivers ? at.slivers : at.packets;
        const std::size_t length = slivers ? static_cast<std::size_t>(count) : static_cast<std::size_t>(count + 3) / 4;
        if (slot + length > bvh_child::max_first) throw std::length_error("too many triangles for the hierarchy's leaves");
        (slivers ? at.slivers : at.packets) += length;
        if (out.nodes != nullptr) {
            for (int k = 0; k < (slivers ? count : static_cast<int>(4 * length)); ++k) {
                const std::int32_t face =
                    k < count ? static_cast<std::int32_t>(tag_of(boxes[static_cast<std::size_t>(first + k)]) & ~sliver_tag) : -1;
                (slivers ? out.slivers : out.lanes)[(slivers ? slot : 4 * slot) + static_cast<std::size_t>(k)] = face;
            }
        }
        return bvh_child::leaf(static_cast<std::uint32_t>(slot), static_cast<int>(length), slivers);
    }

    bvh_child inner(int binary, int depth) {
        const binary_node& n = in[binary];
        if (depth != frontier) {
            const int pair[2] = {n.a, n.b};
            return bvh_child::node(static_cast<std::uint32_t>(emit(pair, 2, depth)));
        }
        if (sizes == nullptr) {  // counting the top: list the task, skip it
            tasks->push_back(binary);
            return bvh_child{};
        }
        starts->push_back(at);
        const std::uint32_t root = static_cast<std::uint32_t>(at.nodes);
        at += (*sizes)[next_task++];
        return bvh_child::node(root);
    }

    int emit(const int* kids_in, int kid_count_in, int depth) {
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

        const int index = static_cast<int>(at.nodes++);
        bvh_child codes[4];
        for (int i = 0; i < kid_count; ++i)
            codes[i] = in[kids[i]].leaf() ? leaf(in[kids[i]]) : inner(kids[i], depth + 1);
        if (out.nodes == nullptr) return index;
        bvh_node& node = *::new (static_cast<void*>(&out.nodes[index])) bvh_node;
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

    // The walk from the root: a lone leaf still sits under a root node.
    void walk_from(int root) {
        if (in[root].leaf()) {
            emit(&root, 1, 0);
        } else {
            const int pair[2] = {in[root].a, in[root].b};
            emit(pair, 2, 0);
        }
    }
};

vector3 corner_of(const mesh& m, std::int32_t k, int j) { return m.vertices[m.faces[k].vertex[j]]; }

// A packet's lanes get the fields prepare_triangle gives a regular
// triangle, computed the same way (the tests compare them field by field):
// here the four lanes' normals at once, where every squared length is a
// normal float, as normalize computes them (a float's square root rounded
// once is the double one rounded to float); otherwise lane by lane.
void fill_packet(const mesh& m, const std::int32_t* lanes, triangle_packet& p) {
    for (int lane = 0; lane < 4; ++lane) p.index[lane] = lanes[lane];
    float v[3][3][4] = {};  // corner 0, edge 1, edge 2; axis; lane
    for (int lane = 0; lane < 4; ++lane) {
        if (p.index[lane] < 0) continue;  // an empty lane: the zero normal meets nothing
        const vector3 v0 = corner_of(m, p.index[lane], 0);
        const vector3 e1 = corner_of(m, p.index[lane], 1) - v0;
        const vector3 e2 = corner_of(m, p.index[lane], 2) - v0;
        const vector3* fields[3] = {&v0, &e1, &e2};
        for (int f = 0; f < 3; ++f) {
            v[f][0][lane] = fields[f]->x;
            v[f][1][lane] = fields[f]->y;
            v[f][2][lane] = fields[f]->z;
        }
    }
    float (*rows[3])[4] = {p.vertex, p.edge1, p.edge2};
    for (int f = 0; f < 3; ++f)
        for (int a = 0; a < 3; ++a) _mm_store_ps(rows[f][a], _mm_loadu_ps(v[f][a]));

    // cross(e1, e2), component by component as math/vector3.h has it.
    const __m128 e1x = _mm_load_ps(p.edge1[0]), e1y = _mm_load_ps(p.edge1[1]), e1z = _mm_load_ps(p.edge1[2]);
    const __m128 e2x = _mm_load_ps(p.edge2[0]), e2y = _mm_load_ps(p.edge2[1]), e2z = _mm_load_ps(p.edge2[2]);
    const __m128 nx = _mm_sub_ps(_mm_mul_ps(e1y, e2z), _mm_mul_ps(e1z, e2y));
    const __m128 ny = _mm_sub_ps(_mm_mul_ps(e1z, e2x), _mm_mul_ps(e1x, e2z));
    const __m128 nz = _mm_sub_ps(_mm_mul_ps(e1x, e2y), _mm_mul_ps(e1y, e2x));
    const __m128 squared = _mm_add_ps(_mm_add_ps(_mm_mul_ps(nx, nx), _mm_mul_ps(ny, ny)), _mm_mul_ps(nz, nz));
    const __m128 in_range = _mm_and_ps(_mm_cmpge_ps(squared, _mm_set1_ps(FLT_MIN)), _mm_cmple_ps(squared, _mm_set1_ps(FLT_MAX)));
    int simple = _mm_movemask_ps(in_range);
    for (int lane = 0; lane < 4; ++lane) simple |= (p.index[lane] < 0) << lane;  // empty lanes: zeros below
    if (simple == 0xf) {
        const __m128 length = _mm_sqrt_ps(squared);
        const __m128 inverse = _mm_and_ps(_mm_div_ps(_mm_set1_ps(1.0f), length), in_range);
        _mm_store_ps(p.normal[0], _mm_mul_ps(nx, inverse));
        _mm_store_ps(p.normal[1], _mm_mul_ps(ny, inverse));
        _mm_store_ps(p.normal[2], _mm_mul_ps(nz, inverse));
    } else {
        alignas(16) float x[4], y[4], z[4];
        _mm_store_ps(x, nx);
        _mm_store_ps(y, ny);
        _mm_store_ps(z, nz);
        for (int lane = 0; lane < 4; ++lane) {
            const vector3 n = normalize({x[lane], y[lane], z[lane]});
            p.normal[0][lane] = n.x;
            p.normal[1][lane] = n.y;
            p.normal[2][lane] = n.z;
        }
    }
    // offset = dot(normal, corner 0)
    const __m128 offset = _mm_add_ps(
        _mm_add_ps(_mm_mul_ps(_mm_load_ps(p.normal[0]), _mm_load_ps(p.vertex[0])),
                   _mm_mul_ps(_mm_load_ps(p.normal[1]), _mm_load_ps(p.vertex[1]))),
        _mm_mul_ps(_mm_load_ps(p.normal[2]), _mm_load_ps(p.vertex[2])));
    _mm_store_ps(p.offset, offset);
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
    // Two levels down the four-wide tree there are up to sixteen subtrees,
    // enough to keep a few threads busy; a small tree is folded in one go.
    const int frontier = boxes.size() >= static_cast<std::size_t>(cluster_threshold) && threads > 1 ? 2 : -1;
    std::vector<int> tasks;
    folder top{nodes, boxes, {}, {}, frontier, &tasks};
    top.walk_from(root);
    std::vector<fold_counts> sizes(tasks.size());
    util::parallel_for(static_cast<int>(tasks.size()), threads, [&](int k) {
        folder f{nodes, boxes, {}, {}};
        const int pair[2] = {nodes[tasks[static_cast<std::size_t>(k)]].a, nodes[tasks[static_cast<std::size_t>(k)]].b};
        f.emit(pair, 2, 0);
        sizes[static_cast<std::size_t>(k)] = f.at;
    });
    fold_counts total = top.at;
    for (const fold_counts& c : sizes) total += c;
    if (total.packets > bvh_child::max_first || total.slivers > bvh_child::max_first)
        throw std::length_error("too many triangles for the hierarchy's leaves");

    tree.nodes.resize(total.nodes);
    std::vector<std::int32_t, util::big_allocator<std::int32_t>> lanes(4 * total.packets), sliver_faces(total.slivers);
    const fold_out out{tree.nodes.data(), lanes.data(), sliver_faces.data()};
    std::vector<fold_counts> starts;
    folder placed{nodes, boxes, out, {}, frontier, nullptr, &sizes, &starts};
    placed.walk_from(root);
    util::parallel_for(static_cast<int>(tasks.size()), threads, [&](int k) {
        folder f{nodes, boxes, out, starts[static_cast<std::size_t>(k)]};
        const int pair[2] = {nodes[tasks[static_cast<std::size_t>(k)]].a, nodes[tasks[static_cast<std::size_t>(k)]].b};
        f.emit(pair, 2, 0);
    });
    // The boxes and the binary tree are done with: free them before the
    // leaves are filled, so those can reuse the pages.
    boxes.release();
    nodes.release();

    tree.packets.resize(total.packets);
    tree.slivers.resize(total.slivers);
    const int packet_count = static_cast<int>(tree.packets.size());
    const int chunks = packet_count >= parallel_threshold ? threads : 1;
    util::parallel_for(chunks, chunks, [&](int chunk) {
        const int begin = static_cast<int>(static_cast<long long>(packet_count) * chunk / chunks);
        const int end = static_cast<int>(static_cast<long long>(packet_count) * (chunk + 1) / chunks);
        for (int k = begin; k < end; ++k) {
            // The corners of a packet a few ahead start on their way from memory.
            if (k + 4 < end) {
                for (int lane = 0; lane < 4; ++lane) {
                    const std::int32_t face = lanes[4 * static_cast<std::size_t>(k + 4) + static_cast<std::size_t>(lane)];
                    if (face < 0) continue;
                    for (int j = 0; j < 3; ++j)
                        _mm_prefetch(reinterpret_cast<const char*>(&m.vertices[m.faces[face].vertex[j]]), _MM_HINT_T0);
                }
            }
            fill_packet(m, &lanes[4 * static_cast<std::size_t>(k)], tree.packets[static_cast<std::size_t>(k)]);
        }
    });
    const int sliver_count = static_cast<int>(tree.slivers.size());
    const int sliver_chunks = sliver_count >= parallel_threshold ? threads : 1;
    util::parallel_for(sliver_chunks, sliver_chunks, [&](int chunk) {
        const int begin = static_cast<int>(static_cast<long long>(sliver_count) * chunk / sliver_chunks);
        const int end = static_cast<int>(static_cast<long long>(sliver_count) * (chunk + 1) / sliver_chunks);
        for (int k = begin; k < end; ++k)
            fill_sliver(m, sliver_faces[static_cast<std::size_t>(k)], tree.slivers[static_cast<std::size_t>(k)]);
    });
}
