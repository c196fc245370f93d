#include <emmintrin.h>

#include <algorithm>
#include <cassert>
#include <new>
#include <stdexcept>
#include <vector>

#include "bvh/build/corners.h"
#include "bvh/build/stages.h"
#include "util/parallel_for.h"

// The four-wide tree straight from the sorted keys. A run of keys is cut in
// two where the highest code bit in which its first and last keys differ
// turns on (found by bisection: the run shares every bit above it), or in
// the middle when all its codes agree; a node takes the run's two halves
// and cuts the larger of its children again until it has four or none is
// larger than a leaf. A leaf is a run of at most morton_leaf_size keys: its
// triangles' reach boxes are made as it is written, and its box is theirs;
// a node's boxes are its children's.
//
// Nodes are numbered depth first. The tree is built in tasks, the subtrees
// at morton_task_depth: a walk over the top lists them and numbers the top's
// own nodes first, each task is counted (the cuts alone, which are cheap)
// and then written in parallel from its first slot on, and the top is
// written last, with the tasks' boxes. The slots depend on the keys alone,
// so the tree is the same whatever the threads.

namespace bvh_build {

namespace {

constexpr int leaf_size = config::morton_leaf_size;

std::uint32_t code_of(std::uint64_t key) { return static_cast<std::uint32_t>(key >> 32); }
std::int32_t index_of(std::uint64_t key) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(key)); }

// How far ahead of the triangle it reads a leaf's walk fetches corners.
constexpr int prefetch_distance = 16;

// The up to four runs a node over a run gets: in key order, covering it.
struct node_runs {
    util::index_range run[4];
    int count = 0;
};

struct cutter {
    const std::uint64_t* keys;
    int key_count;

    // Where `r` (two keys or more) is cut in two. The bisection takes no
    // branches on the keys: they would be mispredicted half the time.
    int cut(util::index_range r) const {
        const std::uint32_t first = code_of(keys[r.begin]), last = code_of(keys[r.end - 1]);
        if (first == last) return r.begin + r.size() / 2;
        const std::uint32_t bit = std::uint32_t{1} << (31 - __builtin_clz(first ^ last));
        // The first key with the bit set lies in [begin + 1, end - 1].
        int base = r.begin + 1, count = r.size() - 1;
        while (count > 1) {
            const int half = count / 2;
            base = (code_of(keys[base + half - 1]) & bit) ? base : base + half;
            count -= half;
        }
        return base;
    }

    node_runs children(util::index_range r) const {
        node_runs n;
        n.run[n.count++] = r;
        while (n.count < 4) {
            int widest = -1;
            for (int i = 0; i < n.count; ++i)
                if (n.run[i].size() > leaf_size && (widest < 0 || n.run[i].size() > n.run[widest].size())) widest = i;
            if (widest < 0) break;
            const util::index_range whole = n.run[widest];
            const int at = cut(whole);
            for (int i = n.count; i > widest + 1; --i) n.run[i] = n.run[i - 1];
            n.run[widest] = {whole.begin, at};
            n.run[widest + 1] = {at, whole.end};
            ++n.count;
        }
        return n;
    }
};

// The subtrees the top leaves to walks of their own, in the order the walk
// over the top meets them.
struct morton_tasks {
    std::vector<util::index_range> runs;
    std::vector<std::size_t> sizes;   // nodes
    std::vector<std::size_t> starts;  // first slot
    std::vector<vbox> boxes;
};

enum class walk_pass { count, write };

struct morton_walk {
    const cutter& cuts;
    const mesh& m;
    walk_pass pass;
    bvh_node* nodes = nullptr;            // written on the write pass only
    std::int32_t* entries = nullptr;
    std::size_t next = 0;                 // the next free node slot
    int frontier = -1;                    // the top's walk: inner runs this deep are tasks
    morton_tasks* tasks = nullptr;
    std::size_t tasks_met = 0;

    bvh_child leaf(util::index_range r, vbox& box) {
        if (pass == walk_pass::write) {
            // The corners' box, widened once by a margin for the largest
            // perimeter and coordinate of the leaf: it holds each
            // triangle's own reach box (reach_margin_either).
            vbox span;
            __m128 perimeter = _mm_setzero_ps();
            const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
            for (int k = r.begin; k < r.end; ++k) {
                // Corners are read in key order, which jumps about the
                // mesh: the face is fetched some way ahead of its corners,
                // and the corners ahead of their use.
                if (k + 2 * prefetch_distance < cuts.key_count)
                    _mm_prefetch(reinterpret_cast<const char*>(&m.faces[index_of(cuts.keys[k + 2 * prefetch_distance])]), _MM_HINT_T0);
                if (k + prefetch_distance < cuts.key_count) prefetch_corners(m, index_of(cuts.keys[k + prefetch_distance]));
                const std::int32_t index = index_of(cuts.keys[k]);
                const corners t(m, index);
                const __m128 a = _mm_setr_ps(t.v[0].x, t.v[0].y, t.v[0].z, 0.0f);
                const __m128 b = _mm_setr_ps(t.v[1].x, t.v[1].y, t.v[1].z, 0.0f);
                const __m128 c = _mm_setr_ps(t.v[2].x, t.v[2].y, t.v[2].z, 0.0f);
                span.grow(a);
                span.grow(b);
                span.grow(c);
                // Each edge's length is at most the sum of its components'
                // magnitudes; the float roundings are within the slack.
                const __m128 edges = _mm_add_ps(_mm_add_ps(_mm_and_ps(_mm_sub_ps(b, a), magnitude), _mm_and_ps(_mm_sub_ps(c, a), magnitude)),
                                                _mm_and_ps(_mm_sub_ps(c, b), magnitude));
                perimeter = _mm_max_ps(perimeter, edges);
                entries[k] = index;
            }
            alignas(16) float lo[4], hi[4], sides[4];
            _mm_store_ps(lo, span.lo);
            _mm_store_ps(hi, span.hi);
            _mm_store_ps(sides, perimeter);
            const float largest = std::max({-lo[0], -lo[1], -lo[2], hi[0], hi[1], hi[2]});
            const double longest = (static_cast<double>(sides[0]) + sides[1] + sides[2]) * (1.0 + 0x1p-20);
            const box3 b = widened_box(lo, hi, reach_margin_either(longest, largest));
            box.grow(vbox{_mm_setr_ps(b.lo[0], b.lo[1], b.lo[2], 0.0f), _mm_setr_ps(b.hi[0], b.hi[1], b.hi[2], 0.0f)});
        }
        return bvh_child::leaf(static_cast<std::uint32_t>(r.begin), r.size(), false);
    }

    bvh_child inner(util::index_range r, int depth, vbox& box) {
        if (depth != frontier) return bvh_child::node(static_cast<std::uint32_t>(node(r, depth, box)));
        assert(tasks != nullptr);
        const std::size_t task = tasks_met++;
        if (pass == walk_pass::count) {
            tasks->runs.push_back(r);
            return bvh_child{};
        }
        box = tasks->boxes[task];
        return bvh_child::node(static_cast<std::uint32_t>(tasks->starts[task]));
    }

    // The node over `r`, at this depth; returns its slot and, on the write
    // pass, its box in `box`.
    std::size_t node(util::index_range r, int depth, vbox& box) {
        assert(depth <= bvh_max_depth && "a tree deeper than the traversal's stack allows");
        const std::size_t slot = next++;
        const node_runs kids = cuts.children(r);
        vbox boxes[4];
        bvh_child codes[4];
        for (int i = 0; i < kids.count; ++i)
            codes[i] = kids.run[i].size() <= leaf_size ? leaf(kids.run[i], boxes[i]) : inner(kids.run[i], depth + 1, boxes[i]);
        if (pass == walk_pass::count) return slot;
        bvh_node& n = *::new (static_cast<void*>(&nodes[slot])) bvh_node;
        for (int i = 0; i < 4; ++i) {
            // Unused lanes keep an empty box; child_count masks them anyway.
            alignas(16) float lo[4], hi[4];
            _mm_store_ps(lo, boxes[i].lo);
            _mm_store_ps(hi, boxes[i].hi);
            for (int a = 0; a < 3; ++a) {
                n.bounds[a][i] = lo[a];
                n.bounds[3 + a][i] = hi[a];
            }
            n.child[i] = i < kids.count ? codes[i] : bvh_child{};
            if (i < kids.count) box.grow(boxes[i]);
        }
        n.child_count = kids.count;
        return slot;
    }
};

}  // namespace

void build_morton_tree(const util::big_array<std::uint64_t>& keys, const mesh& m, const config& c, bvh& tree) {
    if (keys.size() == 0) return;
    if (keys.size() > bvh_child::max_first) throw std::length_error("too many triangles for the hierarchy's leaves");
    const int key_count = static_cast<int>(keys.size());
    const cutter cuts{keys.data(), key_count};
    const util::index_range all{0, key_count};

    // The top's nodes and the tasks below it.
    morton_tasks tasks;
    morton_walk top{cuts, m, walk_pass::count};
    top.frontier = config::morton_task_depth;
    top.tasks = &tasks;
    vbox ignored;
    top.node(all, 0, ignored);
    const int task_count = static_cast<int>(tasks.runs.size());
    // A small mesh is built on the calling thread.
    const int threads = c.chunks_for(key_count) > 1 ? c.threads : 1;
    tasks.sizes.resize(tasks.runs.size());
    util::parallel_for({0, task_count}, task_count, threads, [&](int k, util::index_range) {
        morton_walk task{cuts, m, walk_pass::count};
        vbox none;
        task.node(tasks.runs[static_cast<std::size_t>(k)], config::morton_task_depth, none);
        tasks.sizes[static_cast<std::size_t>(k)] = task.next;
    });
    std::size_t total = top.next;
    for (std::size_t size : tasks.sizes) {
        tasks.starts.push_back(total);
        total += size;
    }

    tree.source = m;
    tree.nodes.resize(total);
    tree.triangles.resize(keys.size());
    tasks.boxes.resize(tasks.runs.size());
    util::parallel_for({0, task_count}, task_count, threads, [&](int k, util::index_range) {
        const std::size_t task = static_cast<std::size_t>(k);
        morton_walk walk{cuts, m, walk_pass::write, tree.nodes.data(), tree.triangles.data(), tasks.starts[task]};
        walk.node(tasks.runs[task], config::morton_task_depth, tasks.boxes[task]);
    });
    morton_walk placed{cuts, m, walk_pass::write, tree.nodes.data(), tree.triangles.data()};
    placed.frontier = config::morton_task_depth;
    placed.tasks = &tasks;
    vbox root;
    placed.node(all, 0, root);
}

}  // namespace bvh_build
