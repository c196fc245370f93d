#include <xmmintrin.h>

#include <algorithm>
#include <cassert>
#include <new>
#include <stdexcept>
#include <vector>

#include "bvh/build/stages.h"
#include "util/parallel_for.h"

// Folds the binary tree into four-wide nodes, depth first: each node adopts
// the children of its largest inner children until it has four. Leaves get
// their slots in the packet and sliver arrays in the same order, and their
// triangles are listed there (leaf_faces); the packets and records
// themselves are filled in afterwards (leaves.cpp), once the boxes and the
// binary tree are freed: that keeps them out of the peak.
//
// The work is shared out like this: a first walk over the top levels lists
// the subtrees below them (the tasks) and counts the top's own nodes and
// leaves; each task is then counted on its own, in parallel, by a walk that
// writes nothing; a second walk over the top, knowing those sizes, gives
// each task the very slots the serial fold would give it; last, the tasks
// are folded into their slots in parallel. The result is the serial fold's,
// slot for slot.

namespace bvh_build {

namespace {

// Slots of each kind: taken so far, or to take.
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

// A walk either only counts the slots it would take, or also fills them.
enum class fold_pass { count, write };

// Where a writing walk writes, and how much room there is.
struct fold_out {
    bvh_node* nodes = nullptr;
    std::int32_t* packet_lanes = nullptr;  // four a packet
    std::int32_t* slivers = nullptr;       // one a record
    fold_counts room;
};

// The subtrees the top levels leave to walks of their own: listed by the
// counting walk over the top, sized by their own counting walks, placed by
// the writing walk over the top.
struct fold_tasks {
    std::vector<int> roots;            // in the binary tree
    std::vector<fold_counts> sizes;
    std::vector<fold_counts> starts;   // the first slots of each
};

struct fold_walk {
    const node_arena& in;
    const box_list& boxes;
    fold_pass pass;
    fold_out out;    // written on the write pass only
    fold_counts at;  // the next free slot of each kind

    // A walk over the top stops at inner nodes this deep (-1: never) and
    // treats them as tasks.
    int frontier = -1;
    fold_tasks* tasks = nullptr;

    bvh_child leaf(const binary_node& n) {
        const util::index_range run = n.run();
        assert(run.end <= static_cast<int>(boxes.size()) && "a leaf beyond the boxes");
        const int count = run.size();
        const bool slivers = tag_of(boxes[static_cast<std::size_t>(run.begin)]).is_sliver();
        const std::size_t slot = slivers ? at.slivers : at.packets;
        const std::size_t length = slivers ? static_cast<std::size_t>(count) : static_cast<std::size_t>(count + 3) / 4;
        if (slot + length > bvh_child::max_first) throw std::length_error("too many triangles for the hierarchy's leaves");
        (slivers ? at.slivers : at.packets) += length;
        if (pass == fold_pass::write) {
            std::int32_t* faces = slivers ? out.slivers + slot : out.packet_lanes + 4 * slot;
            const int entries = slivers ? count : static_cast<int>(4 * length);
            assert(slot + length <= (slivers ? out.room.slivers : out.room.packets) && "a leaf beyond its array");
            for (int k = 0; k < entries; ++k)
                faces[k] = k < count ? tag_of(boxes[static_cast<std::size_t>(run.begin + k)]).index() : -1;
        }
        return bvh_child::leaf(static_cast<std::uint32_t>(slot), static_cast<int>(length), slivers);
    }

    bvh_child inner(int binary, int depth) {
        const binary_node& n = in[binary];
        if (depth != frontier) {
            const int pair[2] = {n.left(), n.right()};
            return bvh_child::node(static_cast<std::uint32_t>(emit(pair, 2, depth)));
        }
        assert(tasks != nullptr);
        if (pass == fold_pass::count) {  // list the task, skip it
            tasks->roots.push_back(binary);
            return bvh_child{};
        }
        const std::size_t task = tasks->starts.size();
        tasks->starts.push_back(at);
        const std::uint32_t root = static_cast<std::uint32_t>(at.nodes);
        at += tasks->sizes[task];
        return bvh_child::node(root);
    }

    // The four-wide node over these binary nodes, at this depth; returns
    // its slot.
    int emit(const int* kids_in, int kid_count_in, int depth) {
        assert(depth <= bvh_max_depth && "a tree deeper than the traversal's stack allows");
        int kids[4];
        int kid_count = kid_count_in;
        std::copy(kids_in, kids_in + kid_count_in, kids);
        while (kid_count < 4) {
            int widest = -1;
            float widest_area = -1.0f;
            for (int i = 0; i < kid_count; ++i) {
                const binary_node& n = in[kids[i]];
                if (n.is_leaf()) continue;
                const float area = half_area(n.bounds());
                if (area > widest_area) {
                    widest_area = area;
                    widest = i;
                }
            }
            if (widest < 0) break;
            const binary_node& n = in[kids[widest]];
            kids[widest] = n.left();
            kids[kid_count++] = n.right();
        }

        const int index = static_cast<int>(at.nodes++);
        bvh_child codes[4];
        for (int i = 0; i < kid_count; ++i)
            codes[i] = in[kids[i]].is_leaf() ? leaf(in[kids[i]]) : inner(kids[i], depth + 1);
        if (pass == fold_pass::count) return index;
        assert(static_cast<std::size_t>(index) < out.room.nodes);
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
        if (in[root].is_leaf()) {
            emit(&root, 1, 0);
        } else {
            const int pair[2] = {in[root].left(), in[root].right()};
            emit(pair, 2, 0);
        }
    }

    // The walk of one task, whose root sits at the frontier.
    void walk_task(int binary, int frontier_depth) {
        const int pair[2] = {in[binary].left(), in[binary].right()};
        emit(pair, 2, frontier_depth);
    }
};

}  // namespace

leaf_faces fold_tree(const box_list& boxes, const node_arena& nodes, int root, const config& c, bvh& tree) {
    // Below the frontier of a large tree there are up to sixteen subtrees,
    // enough to keep a few threads busy; a small tree is folded in one go.
    const bool shared_out = boxes.size() >= static_cast<std::size_t>(c.cluster_threshold) && c.threads > 1;
    const int frontier = shared_out ? config::fold_task_depth : -1;
    fold_tasks tasks;
    fold_walk top{nodes, boxes, fold_pass::count, {}, {}, frontier, &tasks};
    top.walk_from(root);
    const int task_count = static_cast<int>(tasks.roots.size());
    tasks.sizes.resize(tasks.roots.size());
    util::parallel_for({0, task_count}, task_count, c.threads, [&](int k, util::index_range) {
        fold_walk task{nodes, boxes, fold_pass::count, {}, {}};
        task.walk_task(tasks.roots[static_cast<std::size_t>(k)], frontier);
        tasks.sizes[static_cast<std::size_t>(k)] = task.at;
    });
    fold_counts total = top.at;
    for (const fold_counts& size : tasks.sizes) total += size;
    if (total.packets > bvh_child::max_first || total.slivers > bvh_child::max_first)
        throw std::length_error("too many triangles for the hierarchy's leaves");

    tree.nodes.resize(total.nodes);
    leaf_faces faces;
    faces.packet_lanes.resize(4 * total.packets);
    faces.slivers.resize(total.slivers);
    const fold_out out{tree.nodes.data(), faces.packet_lanes.data(), faces.slivers.data(), total};
    fold_walk placed{nodes, boxes, fold_pass::write, out, {}, frontier, &tasks};
    placed.walk_from(root);
    util::parallel_for({0, task_count}, task_count, c.threads, [&](int k, util::index_range) {
        fold_walk task{nodes, boxes, fold_pass::write, out, tasks.starts[static_cast<std::size_t>(k)]};
        task.walk_task(tasks.roots[static_cast<std::size_t>(k)], frontier);
    });
    return faces;
}

}  // namespace bvh_build
