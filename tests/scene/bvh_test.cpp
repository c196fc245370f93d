#include "scene/bvh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "mesh/load_obj.h"
#include "scene/triangle.h"

// The hierarchy must answer exactly what the linear scan answers: the same
// code, the same distance bits, the same triangle, for every ray. These
// tests fire rays chosen to sit on the knife edge of the triangle test
// (through corners, along edges, grazing, axis-parallel, from inside boxes
// and from inside the mesh) and compare the two paths ray by ray.

namespace {

constexpr float inf = std::numeric_limits<float>::infinity();

// Sanitizer and unoptimised builds are there to check memory, not coverage:
// they fire a twentieth of the rays, so that the linear scan stays quick.
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
constexpr long ray_share = 1;
#else
constexpr long ray_share = 20;
#endif

// A list of triangles made as the loader and the model make them.
struct soup {
    std::vector<std::unique_ptr<triangle>> owned;
    std::vector<triangle*> list;

    void add(const vector3& p, const vector3& q, const vector3& r) {
        face f;
        f.vertex[0] = p;
        f.vertex[1] = q;
        f.vertex[2] = r;
        f.normal = cross(q - p, r - p);
        owned.push_back(std::make_unique<triangle>(f));
        list.push_back(owned.back().get());
    }
    int size() const { return static_cast<int>(list.size()); }
};

const mesh& bunny() {
    static mesh m = [] {
        mesh loaded;
        const std::string path = std::string(RT_SOURCE_DIR) + "/assets/bunny.obj";
        std::FILE* f = std::fopen(path.c_str(), "rb");
        std::string text;
        if (f != nullptr) {
            char buffer[1 << 16];
            std::size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
            std::fclose(f);
        }
        std::string error;
        parse_obj(text.data(), text.size(), "bunny.obj", &loaded, &error);
        return loaded;
    }();
    return m;
}

// The bunny's faces whose first corner lies within `radius` of `centre`,
// in file order: a real piece of surface, small enough to scan linearly.
soup bunny_patch(const vector3& centre, float radius) {
    soup s;
    const mesh& m = bunny();
    for (int i = 0; i < m.face_count; ++i) {
        const face f = make_face(m, i);
        const vector3 d = f.vertex[0] - centre;
        if (dot(d, d) < radius * radius) s.add(f.vertex[0], f.vertex[1], f.vertex[2]);
    }
    return s;
}

soup whole_bunny() {
    soup s;
    const mesh& m = bunny();
    for (int i = 0; i < m.face_count; ++i) {
        const face f = make_face(m, i);
        s.add(f.vertex[0], f.vertex[1], f.vertex[2]);
    }
    return s;
}

int linear(const std::vector<triangle*>& list, const ray& r, float& distance, int& index) {
    int code = hit_none;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const int c = list[i]->intersect(r, distance);
        if (c != hit_none) {
            code = c;
            index = static_cast<int>(i);
        }
    }
    return code;
}

struct tally {
    long rays = 0;
    long hits = 0;
    long mismatches = 0;
    std::string first;
};

void compare(const bvh& tree, const soup& s, const ray& r, float distance, tally& t) {
    float d_linear = distance, d_tree = distance;
    int i_linear = -7, i_tree = -7;
    const int c_linear = linear(s.list, r, d_linear, i_linear);
    const int c_tree = intersect_bvh(tree, r, d_tree, i_tree);
    ++t.rays;
    if (c_linear != hit_none) ++t.hits;
    if (c_linear != c_tree || std::memcmp(&d_linear, &d_tree, sizeof(float)) != 0 || i_linear != i_tree) {
        if (t.mismatches++ == 0) {
            char text[400];
            std::snprintf(text, sizeof text,
                          "ray (%a %a %a) -> (%a %a %a), distance %a: linear %d %a #%d, tree %d %a #%d", r.origin.x,
                          r.origin.y, r.origin.z, r.direction.x, r.direction.y, r.direction.z, distance, c_linear,
                          d_linear, i_linear, c_tree, d_tree, i_tree);
            t.first = text;
        }
    }
}

// Rays aimed at the triangles of a soup, each kind at a weak spot.
struct ray_maker {
    const soup& s;
    vector3 inside;  // a point inside the mesh
    std::mt19937 rng;
    std::uniform_real_distribution<float> unit{0.0f, 1.0f};

    float signed_unit() { return 2.0f * unit(rng) - 1.0f; }
    vector3 random_direction() {
        for (;;) {
            const vector3 d{signed_unit(), signed_unit(), signed_unit()};
            if (dot(d, d) > 0.01f && dot(d, d) <= 1.0f) return normalize(d);
        }
    }
    const triangle& any_triangle() {
        return *s.list[std::uniform_int_distribution<int>(0, s.size() - 1)(rng)];
    }
    vector3 interior(const triangle& t) {
        float u = unit(rng), v = unit(rng);
        if (u + v > 1.0f) {
            u = 1.0f - u;
            v = 1.0f - v;
        }
        return t.vertex[0] + u * t.edge1 + v * t.edge2;
    }
    vector3 around(const vector3& p, float reach) {
        return {p.x + reach * signed_unit(), p.y + reach * signed_unit(), p.z + reach * signed_unit()};
    }

    ray next(int kind) {
        const triangle& t = any_triangle();
        const int corner = std::uniform_int_distribution<int>(0, 2)(rng);
        switch (kind) {
        case 0: {  // through a corner
            const vector3 o = around(t.vertex[corner], 900.0f);
            return {o, normalize(t.vertex[corner] - o)};
        }
        case 1: {  // through a point of an edge
            const vector3 p = t.vertex[0] + unit(rng) * (corner == 0 ? t.edge1 : t.edge2);
            const vector3 o = around(p, 900.0f);
            return {o, normalize(p - o)};
        }
        case 2: {  // along an edge, from a little before or after it
            const vector3 e = corner == 0 ? t.edge1 : corner == 1 ? t.edge2 : t.vertex[2] - t.vertex[1];
            const vector3 start = corner == 2 ? t.vertex[1] : t.vertex[0];
            const float sign = unit(rng) < 0.5f ? 1.0f : -1.0f;
            const vector3 d = normalize(sign * e);
            return {start - (1.0f + 20.0f * unit(rng)) * d, d};
        }
        case 3: {  // axis-parallel: two direction components exactly zero
            const vector3 p = unit(rng) < 0.3f ? t.vertex[corner] : interior(t);
            vector3 d{0.0f, 0.0f, 0.0f};
            const float sign = unit(rng) < 0.5f ? 1.0f : -1.0f;
            (corner == 0 ? d.x : corner == 1 ? d.y : d.z) = sign;
            return {p - 400.0f * d, d};
        }
        case 4: {  // from inside the boxes around the surface
            const vector3 p = interior(t);
            return {around(p, 2.0f), random_direction()};
        }
        case 5: {  // from inside the mesh
            return {around(inside, 30.0f), random_direction()};
        }
        case 6: {  // grazing: nearly in the plane of a triangle, through it
            const vector3 p = interior(t);
            const vector3 along = normalize(unit(rng) < 0.5f ? t.edge1 : t.edge2);
            const float tilt = std::ldexp(signed_unit(), -std::uniform_int_distribution<int>(4, 24)(rng));
            const vector3 d = normalize(along - tilt * t.normal);
            return {p - (5.0f + 500.0f * unit(rng)) * d, d};
        }
        case 7: {  // from far away
            const vector3 p = interior(t);
            const vector3 o = around(p, 100000.0f);
            return {o, normalize(p - o)};
        }
        default: {  // anywhere around, at anything
            const vector3 o = around(inside, 1500.0f);
            return {o, normalize(interior(t) - o)};
        }
        }
    }
};

constexpr int ray_kinds = 9;

// Fires `count` rays of every kind in turn with a mix of incoming distances:
// the tracer's 150000, infinity, and the distance of the hit itself or just
// above it (a hit at exactly the incoming distance is a miss).
tally fire(const soup& s, const vector3& inside, long count, unsigned seed, int threads = 0) {
    bvh tree;
    build_bvh(tree, s.list.data(), s.size(), threads);
    ray_maker maker{s, inside, std::mt19937(seed)};
    tally t;
    for (long k = 0; k < count; ++k) {
        const ray r = maker.next(static_cast<int>(k % ray_kinds));
        const long mix = (k / ray_kinds) % 4;
        float distance = mix == 1 ? inf : 150000.0f;
        if (mix >= 2) {
            float nearest = 150000.0f;
            int index = -1;
            if (linear(s.list, r, nearest, index) != hit_none)
                distance = mix == 2 ? nearest : std::nextafter(nearest, inf);
        }
        compare(tree, s, r, distance, t);
    }
    return t;
}

// The mean of the bunny's corners lies well inside its body.
vector3 bunny_inside() {
    const mesh& m = bunny();
    double sum[3] = {0.0, 0.0, 0.0};
    for (int i = 0; i < m.vertex_count; ++i) {
        sum[0] += m.vertices[i].x;
        sum[1] += m.vertices[i].y;
        sum[2] += m.vertices[i].z;
    }
    const double n = m.vertex_count;
    return {static_cast<float>(sum[0] / n), static_cast<float>(sum[1] / n), static_cast<float>(sum[2] / n)};
}

}  // namespace

TEST(bvh_exactness, a_million_rays_on_a_piece_of_the_bunny) {
    const soup patch = bunny_patch(make_face(bunny(), 30000).vertex[0], 30.0f);
    ASSERT_GT(patch.size(), 100);
    const vector3 centre = make_face(bunny(), 30000).vertex[0];
    const tally t = fire(patch, centre, 1000008 / ray_share, 1);
    EXPECT_EQ(t.mismatches, 0) << t.first;
    EXPECT_GT(t.hits, t.rays / 4);
}

TEST(bvh_exactness, random_rays_on_the_whole_bunny) {
    const soup all = whole_bunny();
    ASSERT_EQ(all.size(), 69666);
    const tally t = fire(all, bunny_inside(), 1350 / ray_share, 2);
    EXPECT_EQ(t.mismatches, 0) << t.first;
    EXPECT_GT(t.hits, t.rays / 3);
}

// One triangle per tree: the box test is all that stands between the ray
// and the triangle test, so every margin shortfall shows. The shapes run
// from fat to slivers, the sizes and positions over many magnitudes.
TEST(bvh_exactness, lone_triangles_of_every_shape_and_scale) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    tally t;
    for (int n = 0; n < 40000 / ray_share; ++n) {
        const float scale = std::ldexp(1.0f, std::uniform_int_distribution<int>(-6, 12)(rng));
        const float offset = std::ldexp(1.0f, std::uniform_int_distribution<int>(-4, 14)(rng));
        const vector3 base{offset * unit(rng), offset * unit(rng), offset * unit(rng)};
        const vector3 p = base + scale * vector3{unit(rng), unit(rng), unit(rng)};
        const vector3 q = base + scale * vector3{unit(rng), unit(rng), unit(rng)};
        vector3 r = base + scale * vector3{unit(rng), unit(rng), unit(rng)};
        if (n % 3 == 0) {  // a sliver: r close to the line through p and q
            const float squeeze = std::ldexp(1.0f, -std::uniform_int_distribution<int>(3, 14)(rng));
            r = p + 0.5f * (q - p) + squeeze * (r - p);
        }
        soup s;
        s.add(p, q, r);
        bvh tree;
        build_bvh(tree, s.list.data(), 1);
        ray_maker maker{s, base, std::mt19937(static_cast<unsigned>(n))};
        for (int k = 0; k < 27; ++k) {
            ray ray_k = maker.next(k % ray_kinds);
            // Bring the far kinds into this triangle's scale.
            if (k % ray_kinds == 7 || k % ray_kinds == 8) {
                const vector3 target = maker.interior(*s.list[0]);
                ray_k.origin = maker.around(target, 50.0f * scale);
                ray_k.direction = normalize(target - ray_k.origin);
            }
            compare(tree, s, ray_k, k % 2 ? inf : 150000.0f, t);
        }
    }
    EXPECT_EQ(t.mismatches, 0) << t.first;
    EXPECT_GT(t.hits, t.rays / 10);
}

// Copies of triangles and fans around shared corners: several triangles
// accept the same ray at the same distance, and the lower index must win
// whatever order the tree visits them in.
TEST(bvh_exactness, ties_go_to_the_lower_index) {
    soup s;
    std::mt19937 rng(4);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (int fan = 0; fan < 40; ++fan) {
        const vector3 hub{300.0f * unit(rng), 300.0f * unit(rng), 300.0f * unit(rng)};
        const vector3 up = normalize(vector3{unit(rng), unit(rng), unit(rng)});
        vector3 side = normalize(cross(up, vector3{0.3f, 0.9f, -0.2f}));
        const vector3 other = cross(up, side);
        for (int k = 0; k < 6; ++k) {
            const float a0 = 1.0471976f * k, a1 = 1.0471976f * (k + 1);
            const vector3 p = hub + 20.0f * (std::cos(a0) * side + std::sin(a0) * other);
            const vector3 q = hub + 20.0f * (std::cos(a1) * side + std::sin(a1) * other);
            s.add(hub, p, q);
        }
    }
    const int originals = s.size();
    for (int k = originals - 1; k >= 0; k -= 3) {  // exact copies, later in the list
        const triangle& t = *s.list[k];
        s.add(t.vertex[0], t.vertex[1], t.vertex[2]);
    }
    bvh tree;
    build_bvh(tree, s.list.data(), s.size());
    ray_maker maker{s, {0.0f, 0.0f, 0.0f}, std::mt19937(5)};
    tally t;
    long ties = 0;
    for (int k = 0; k < 200000 / ray_share; ++k) {
        const ray r = maker.next(k % 3 == 2 ? 8 : k % 3);  // corners, edges, interiors
        compare(tree, s, r, 150000.0f, t);
        // Count the rays that really had a tie to break.
        float d = 150000.0f;
        int index = -1;
        if (linear(s.list, r, d, index) != hit_none) {
            int accepted = 0;
            for (triangle* tri : s.list) {
                float e = std::nextafter(d, inf);
                if (tri->intersect(r, e) != hit_none && e == d) ++accepted;
            }
            if (accepted > 1) ++ties;
        }
    }
    EXPECT_EQ(t.mismatches, 0) << t.first;
    EXPECT_GT(ties, 1000 / ray_share);
}

TEST(bvh_exactness, distances_that_leave_nothing_to_find) {
    const soup patch = bunny_patch(make_face(bunny(), 100).vertex[0], 30.0f);
    bvh tree;
    build_bvh(tree, patch.list.data(), patch.size());
    const triangle& t = *patch.list[0];
    const vector3 p = t.vertex[0] + 0.3f * t.edge1 + 0.3f * t.edge2;
    const ray r{p + 50.0f * t.normal, -t.normal};
    for (float distance : {0.0f, -1.0f, -inf, std::numeric_limits<float>::quiet_NaN(), 1e-3f}) {
        float d = distance;
        int index = -3;
        EXPECT_EQ(intersect_bvh(tree, r, d, index), hit_none);
        EXPECT_EQ(std::memcmp(&d, &distance, sizeof d), 0);
        EXPECT_EQ(index, -3);
    }
    // A direction of NaNs meets nothing, and neither does an empty tree.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    float d = 150000.0f;
    int index = -3;
    EXPECT_EQ(intersect_bvh(tree, ray{p, {nan, nan, nan}}, d, index), hit_none);
    bvh empty;
    build_bvh(empty, nullptr, 0);
    EXPECT_EQ(intersect_bvh(empty, r, d, index), hit_none);
    EXPECT_EQ(d, 150000.0f);
    // The straight hit itself, for contrast.
    EXPECT_EQ(intersect_bvh(tree, r, d, index), hit_outside);
    EXPECT_FLOAT_EQ(d, 50.0f);
}

TEST(bvh_build, same_tree_on_every_run_and_any_thread_count) {
    const soup all = whole_bunny();
    bvh one, two, many;
    build_bvh(one, all.list.data(), all.size(), 1);
    build_bvh(two, all.list.data(), all.size(), 2);
    build_bvh(many, all.list.data(), all.size(), 8);
    for (const bvh* other : {&two, &many}) {
        ASSERT_EQ(one.nodes.size(), other->nodes.size());
        EXPECT_EQ(std::memcmp(one.nodes.data(), other->nodes.data(), one.nodes.size() * sizeof(bvh_node)), 0);
        EXPECT_EQ(one.leaf_index, other->leaf_index);
        EXPECT_EQ(one.loose_index, other->loose_index);
    }
}

// Every triangle that can be hit is reachable exactly once, inside every
// box on its way down; those that can never be hit are left out.
TEST(bvh_build, every_triangle_sits_in_one_leaf_inside_its_boxes) {
    soup s = bunny_patch(make_face(bunny(), 5000).vertex[0], 60.0f);
    const int real = s.size();
    s.add({1.0f, 2.0f, 3.0f}, {2.0f, 4.0f, 6.0f}, {3.0f, 6.0f, 9.0f});  // collinear: zero normal
    bvh tree;
    build_bvh(tree, s.list.data(), s.size());

    std::vector<int> seen(s.size(), 0);
    for (int i : tree.loose_index) ++seen[i];
    struct walker {
        const bvh& tree;
        const soup& s;
        std::vector<int>& seen;
        bool inside = true;
        void visit(std::int32_t child, const float lo[3], const float hi[3]) {
            if (child >= 0) {
                const bvh_node& n = tree.nodes[child];
                for (int k = 0; k < n.child_count; ++k) {
                    const float clo[3] = {n.bounds[0][k], n.bounds[1][k], n.bounds[2][k]};
                    const float chi[3] = {n.bounds[3][k], n.bounds[4][k], n.bounds[5][k]};
                    for (int a = 0; a < 3; ++a) inside = inside && lo[a] <= clo[a] && chi[a] <= hi[a];
                    visit(n.child[k], clo, chi);
                }
                return;
            }
            const int first = (child & 0x7fffffff) >> 4, count = (child & 15) + 1;
            for (int k = first; k < first + count; ++k) {
                const triangle& t = *tree.leaf_triangles[k];
                EXPECT_EQ(&t, s.list[tree.leaf_index[k]]);
                ++seen[tree.leaf_index[k]];
                // The leaves test a copy: it must be this triangle's, field for field.
                const leaf_record& g = tree.leaf_records[k];
                EXPECT_TRUE(g.normal == t.normal && g.offset == t.offset && g.vertex[0] == t.vertex[0] &&
                            g.edge1 == t.edge1 && g.edge2 == t.edge2 && g.dot11 == t.dot11 &&
                            g.dot22 == t.dot22 && g.dot12 == t.dot12)
                    << "leaf entry " << k;
                for (const vector3& v : t.vertex) {
                    inside = inside && lo[0] < v.x && v.x < hi[0] && lo[1] < v.y && v.y < hi[1] && lo[2] < v.z &&
                             v.z < hi[2];
                }
            }
        }
    } w{tree, s, seen};
    const float lo[3] = {-inf, -inf, -inf}, hi[3] = {inf, inf, inf};
    w.visit(0, lo, hi);
    EXPECT_TRUE(w.inside);
    for (int i = 0; i < real; ++i) EXPECT_EQ(seen[i], 1) << "triangle " << i;
    EXPECT_EQ(seen[real], 0);
}
