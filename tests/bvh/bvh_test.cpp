#include "bvh/bvh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "bvh/reach.h"
#include "mesh/mesh.h"
#include "tests/support/bunny_patch.h"
#include "tests/support/slow_build.h"
#include "tests/support/triangle_soup.h"

// The hierarchy must answer exactly what the linear scan answers: the same
// code, the same distance bits, the same triangle, for every ray. These
// tests fire rays chosen to sit on the knife edge of the triangle tests
// (through corners, along edges, grazing, axis-parallel, from inside boxes
// and from inside the mesh) and compare the two paths ray by ray.

namespace {

constexpr float inf = std::numeric_limits<float>::infinity();

// A slow build fires a twentieth of the rays, so that the linear scan
// stays quick.
constexpr long ray_share = slow_build ? 20 : 1;

struct tally {
    long rays = 0;
    long hits = 0;
    long mismatches = 0;
    long outside_reach = 0;  // accepted points beyond their triangle's reach box
    std::string first;
};

// Both paths on one ray; also checks that the point the scan accepted lies
// in its triangle's reach box widened by the ray's allowance, which is the
// promise the whole hierarchy rests on.
void compare(const bvh& tree, const linear_reference& scan, const ray& r, float distance, tally& t) {
    float d_linear = distance, d_tree = distance;
    int i_linear = -7;
    bvh_hit h_tree;
    const int c_linear = scan.intersect(r, d_linear, i_linear);
    const int c_tree = intersect_bvh(tree, r, d_tree, h_tree);
    ++t.rays;
    if (c_linear != hit_none) {
        ++t.hits;
        const triangle& hit = *scan.triangles[static_cast<std::size_t>(i_linear)];
        const box3 reach = reach_box(hit.vertex, hit.kind);
        const double m_ray = ray_allowance(r.origin);
        const double p[3] = {r.origin.x + static_cast<double>(d_linear) * r.direction.x,
                             r.origin.y + static_cast<double>(d_linear) * r.direction.y,
                             r.origin.z + static_cast<double>(d_linear) * r.direction.z};
        for (int a = 0; a < 3; ++a)
            if (!(reach.lo[a] - m_ray <= p[a] && p[a] <= reach.hi[a] + m_ray)) ++t.outside_reach;
    }
    const int i_tree = c_tree != hit_none ? h_tree.index : -7;
    const bool same_normal = c_tree == hit_none || h_tree.normal == scan.triangles[static_cast<std::size_t>(i_tree)]->normal;
    if (c_linear != c_tree || std::memcmp(&d_linear, &d_tree, sizeof(float)) != 0 || i_linear != i_tree || !same_normal) {
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

// Rays aimed at the triangles of a mesh, each kind at a weak spot.
struct ray_maker {
    const linear_reference& scan;
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
        return *scan.triangles[std::uniform_int_distribution<std::size_t>(0, scan.triangles.size() - 1)(rng)];
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

    ray next(int kind, float far = 100000.0f) {
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
            const vector3 o = around(p, far);
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
tally fire(const mesh& m, const vector3& inside, long count, unsigned seed, int threads, bvh_method method) {
    bvh tree;
    build_bvh(tree, m, threads, method);
    const linear_reference scan(m);
    ray_maker maker{scan, inside, std::mt19937(seed)};
    tally t;
    for (long k = 0; k < count; ++k) {
        const ray r = maker.next(static_cast<int>(k % ray_kinds));
        const long mix = (k / ray_kinds) % 4;
        float distance = mix == 1 ? inf : 150000.0f;
        if (mix >= 2) {
            float nearest = 150000.0f;
            int index = -1;
            if (scan.intersect(r, nearest, index) != hit_none)
                distance = mix == 2 ? nearest : std::nextafter(nearest, inf);
        }
        compare(tree, scan, r, distance, t);
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

void expect_exact(const tally& t, long min_hits) {
    EXPECT_EQ(t.mismatches, 0) << t.first;
    EXPECT_EQ(t.outside_reach, 0);
    EXPECT_GT(t.hits, min_hits);
}

std::string method_name(const ::testing::TestParamInfo<bvh_method>& info) {
    return info.param == bvh_method::morton ? "morton" : "surface_area";
}

}  // namespace

// Every case runs on both ways of building: the trees differ in shape and
// in their leaves, their answers may not.
class bvh_exactness : public ::testing::TestWithParam<bvh_method> {};
class bvh_build : public ::testing::TestWithParam<bvh_method> {};
INSTANTIATE_TEST_SUITE_P(builders, bvh_exactness, ::testing::Values(bvh_method::surface_area, bvh_method::morton),
                         method_name);
INSTANTIATE_TEST_SUITE_P(builders, bvh_build, ::testing::Values(bvh_method::surface_area, bvh_method::morton),
                         method_name);

TEST_P(bvh_exactness, a_million_rays_on_a_piece_of_the_bunny) {
    const vector3 centre = make_face(bunny(), 30000).vertex[0];
    const triangle_soup patch = bunny_patch(centre, 30.0f);
    ASSERT_GT(patch.size(), 100);
    const long rays = 1000008 / ray_share;
    expect_exact(fire(patch.view(), centre, rays, 1, 0, GetParam()), rays / 4);
}

TEST_P(bvh_exactness, random_rays_on_the_whole_bunny) {
    const long rays = 1350 / ray_share;
    expect_exact(fire(bunny(), bunny_inside(), rays, 2, 0, GetParam()), rays / 3);
}

// A patch split twice into quarters (sixteen times the triangles, the same
// surface), then with one triangle far away: the outlier must not cost the
// rays near the patch their exactness, nor theirs.
TEST_P(bvh_exactness, subdivided_surfaces_and_a_far_outlier) {
    const vector3 centre = make_face(bunny(), 12000).vertex[0];
    triangle_soup fine = subdivided(subdivided(bunny_patch(centre, 12.0f)));
    const long rays = 300006 / ray_share;
    expect_exact(fire(fine.view(), centre, rays, 6, 0, GetParam()), rays / 4);
    for (float away : {5e7f, 5e9f}) {
        triangle_soup far = fine;
        far.add({away, 0.0f, 0.0f}, {away, 5000.0f, 0.0f}, {away, 0.0f, 5000.0f});
        expect_exact(fire(far.view(), centre, rays / 3, 7, 0, GetParam()), rays / 12);
    }
}

// One triangle per tree: the box test is all that stands between the ray
// and the triangle test, so every margin shortfall shows. The shapes run
// from fat to slivers of every condition number down to collinear corners,
// the sizes and positions over many magnitudes.
TEST_P(bvh_exactness, lone_triangles_of_every_shape_and_scale) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    tally t;
    long slivers = 0;
    for (int n = 0; n < 40000 / ray_share; ++n) {
        const int scale_exponent = n % 7 == 0 ? std::uniform_int_distribution<int>(-60, 60)(rng)
                                              : std::uniform_int_distribution<int>(-6, 12)(rng);
        const float scale = std::ldexp(1.0f, scale_exponent);
        const float offset = std::ldexp(1.0f, scale_exponent + std::uniform_int_distribution<int>(-4, 14)(rng));
        const vector3 base{offset * unit(rng), offset * unit(rng), offset * unit(rng)};
        const vector3 p = base + scale * vector3{unit(rng), unit(rng), unit(rng)};
        const vector3 q = base + scale * vector3{unit(rng), unit(rng), unit(rng)};
        vector3 r = base + scale * vector3{unit(rng), unit(rng), unit(rng)};
        if (n % 3 == 0) {  // a sliver: r close to the line through p and q, or on it
            const int squeeze = std::uniform_int_distribution<int>(3, 48)(rng);
            r = p + 0.5f * (q - p) + (squeeze == 48 ? 0.0f : std::ldexp(1.0f, -squeeze)) * (r - p);
        }
        triangle_soup s;
        s.add(p, q, r);
        const mesh m = s.view();
        bvh tree;
        build_bvh(tree, m, 1, GetParam());
        const linear_reference scan(m);
        slivers += scan.triangles[0]->kind == triangle_kind::sliver;
        ray_maker maker{scan, base, std::mt19937(static_cast<unsigned>(n))};
        for (int k = 0; k < 27; ++k) {
            ray ray_k = maker.next(k % ray_kinds);
            // Bring the far kinds into this triangle's scale.
            if (k % ray_kinds == 7 || k % ray_kinds == 8) {
                const vector3 target = maker.interior(*scan.triangles[0]);
                ray_k.origin = maker.around(target, 50.0f * scale);
                ray_k.direction = normalize(target - ray_k.origin);
            }
            compare(tree, scan, ray_k, k % 2 ? inf : 150000.0f, t);
        }
    }
    expect_exact(t, t.rays / 10);
    EXPECT_GT(slivers, 4000 / ray_share);
}

// Copies of triangles and fans around shared corners: several triangles
// accept the same ray at the same distance, and the lower index must win
// whatever order the tree visits them in.
TEST_P(bvh_exactness, ties_go_to_the_lower_index) {
    triangle_soup s;
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
        const vector3* v = &s.vertices[static_cast<std::size_t>(s.faces[k].vertex[0])];
        s.add(v[0], v[1], v[2]);
    }
    const mesh m = s.view();
    bvh tree;
    build_bvh(tree, m, 0, GetParam());
    const linear_reference scan(m);
    ray_maker maker{scan, {0.0f, 0.0f, 0.0f}, std::mt19937(5)};
    tally t;
    long ties = 0;
    for (int k = 0; k < 200000 / ray_share; ++k) {
        const ray r = maker.next(k % 3 == 2 ? 8 : k % 3);  // corners, edges, interiors
        compare(tree, scan, r, 150000.0f, t);
        // Count the rays that really had a tie to break.
        float d = 150000.0f;
        int index = -1;
        if (scan.intersect(r, d, index) != hit_none) {
            int accepted = 0;
            for (const auto& tri : scan.triangles) {
                float e = std::nextafter(d, inf);
                if (tri->intersect(r, e) != hit_none && e == d) ++accepted;
            }
            if (accepted > 1) ++ties;
        }
    }
    expect_exact(t, 0);
    EXPECT_GT(ties, 1000 / ray_share);
}

TEST_P(bvh_exactness, distances_that_leave_nothing_to_find) {
    const triangle_soup patch = bunny_patch(make_face(bunny(), 100).vertex[0], 30.0f);
    bvh tree;
    build_bvh(tree, patch.view(), 0, GetParam());
    const triangle t(make_face(patch.view(), 0));
    const vector3 p = t.vertex[0] + 0.3f * t.edge1 + 0.3f * t.edge2;
    const ray r{p + 50.0f * t.normal, -t.normal};
    for (float distance : {0.0f, -1.0f, -inf, std::numeric_limits<float>::quiet_NaN(), 1e-3f}) {
        float d = distance;
        bvh_hit hit;
        EXPECT_EQ(intersect_bvh(tree, r, d, hit), hit_none);
        EXPECT_EQ(std::memcmp(&d, &distance, sizeof d), 0);
        EXPECT_EQ(hit.index, -1);
    }
    // Directions of NaNs or zeros meet nothing, and neither does an empty tree.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    float d = 150000.0f;
    bvh_hit hit;
    EXPECT_EQ(intersect_bvh(tree, ray{p, {nan, nan, nan}}, d, hit), hit_none);
    EXPECT_EQ(intersect_bvh(tree, ray{p, {0.0f, 0.0f, 0.0f}}, d, hit), hit_none);
    bvh empty;
    build_bvh(empty, mesh{}, 0, GetParam());
    EXPECT_EQ(intersect_bvh(empty, r, d, hit), hit_none);
    EXPECT_EQ(d, 150000.0f);
    // The straight hit itself, for contrast.
    EXPECT_EQ(intersect_bvh(tree, r, d, hit), hit_outside);
    EXPECT_FLOAT_EQ(d, 50.0f);
    EXPECT_EQ(hit.index, 0);
    EXPECT_EQ(hit.normal, t.normal);
}

namespace {

// Every triangle that can be hit is reachable exactly once, its reach box
// inside every box on its way down, its fields copied as its own test has
// them. Returns how often each triangle was reached.
std::vector<int> walk(const bvh& tree, const linear_reference& scan) {
    std::vector<int> seen(scan.triangles.size(), 0);
    bool inside = true, copied = true, packed = true;
    auto contains = [](const float lo[3], const float hi[3], const box3& b) {
        return lo[0] <= b.lo[0] && lo[1] <= b.lo[1] && lo[2] <= b.lo[2] && b.hi[0] <= hi[0] && b.hi[1] <= hi[1] &&
               b.hi[2] <= hi[2];
    };
    auto visit = [&](auto&& self, bvh_child child, const float lo[3], const float hi[3]) -> void {
        if (!child.is_leaf()) {
            const bvh_node& n = tree.nodes[child.node_index()];
            for (int k = 0; k < n.child_count; ++k) {
                const float clo[3] = {n.bounds[0][k], n.bounds[1][k], n.bounds[2][k]};
                const float chi[3] = {n.bounds[3][k], n.bounds[4][k], n.bounds[5][k]};
                inside = inside && contains(lo, hi, box3{{clo[0], clo[1], clo[2]}, {chi[0], chi[1], chi[2]}});
                self(self, n.child[k], clo, chi);
            }
            return;
        }
        for (std::uint32_t k = child.first(); k < child.first() + static_cast<std::uint32_t>(child.length()); ++k) {
            if (tree.compact()) {  // an index into the mesh, no copy
                const int index = tree.triangles[k];
                ++seen[static_cast<std::size_t>(index)];
                const triangle& t = *scan.triangles[static_cast<std::size_t>(index)];
                inside = inside && contains(lo, hi, reach_box(t.vertex, t.kind));
                continue;
            }
            // A packet is there for a triangle: none is left empty.
            if (!child.holds_slivers()) packed = packed && tree.packets[k].index[0] >= 0;
            for (int lane = 0; lane < (child.holds_slivers() ? 1 : 4); ++lane) {
                const int index = child.holds_slivers() ? tree.slivers[k].index : tree.packets[k].index[lane];
                if (index < 0) continue;
                ++seen[static_cast<std::size_t>(index)];
                const triangle& t = *scan.triangles[static_cast<std::size_t>(index)];
                inside = inside && contains(lo, hi, reach_box(t.vertex, t.kind));
                if (child.holds_slivers()) {
                    const sliver_record& r = tree.slivers[k];
                    copied = copied && t.kind == triangle_kind::sliver && r.vertex[1] == t.vertex[1] &&
                             r.plane.x == t.plane.x && r.plane.z == t.plane.z && r.normal == t.normal;
                } else {
                    const triangle_packet& p = tree.packets[k];
                    copied = copied && t.kind == triangle_kind::regular && p.offset[lane] == t.offset &&
                             p.normal[1][lane] == t.normal.y && p.vertex[2][lane] == t.vertex[0].z &&
                             p.edge1[0][lane] == t.edge1.x && p.edge2[2][lane] == t.edge2.z;
                }
            }
        }
    };
    const float lo[3] = {-inf, -inf, -inf}, hi[3] = {inf, inf, inf};
    visit(visit, bvh_child::node(0), lo, hi);
    EXPECT_TRUE(inside);
    EXPECT_TRUE(copied);
    EXPECT_TRUE(packed);
    return seen;
}

void expect_same_tree(const bvh& one, const bvh& other) {
    ASSERT_EQ(one.nodes.size(), other.nodes.size());
    EXPECT_EQ(std::memcmp(one.nodes.data(), other.nodes.data(), one.nodes.size() * sizeof(bvh_node)), 0);
    ASSERT_EQ(one.packets.size(), other.packets.size());
    // A compact tree has no packets, and memcmp may not be handed the null
    // data of an empty vector.
    if (!one.packets.empty()) {
        EXPECT_EQ(std::memcmp(one.packets.data(), other.packets.data(), one.packets.size() * sizeof(triangle_packet)), 0);
    }
    EXPECT_EQ(one.triangles, other.triangles);
}

}  // namespace

TEST_P(bvh_build, same_tree_on_every_run_and_any_thread_count) {
    bvh one, two, many;
    build_bvh(one, bunny(), 1, GetParam());
    build_bvh(two, bunny(), 2, GetParam());
    build_bvh(many, bunny(), 8, GetParam());
    expect_same_tree(one, two);
    expect_same_tree(one, many);
}

TEST_P(bvh_build, every_triangle_sits_in_one_leaf_inside_its_boxes) {
    triangle_soup s = bunny_patch(make_face(bunny(), 5000).vertex[0], 60.0f);
    s.add({100.0f, 2.0f, 3.0f}, {300.0f, 2.0f, 3.0f}, {200.0f, 2.0f, 3.0f + 1e-4f});  // a sliver
    const int real = s.size();
    s.add({1.0f, 2.0f, 3.0f}, {2.0f, 4.0f, 6.0f}, {3.0f, 6.0f, 9.0f});  // collinear: zero normal
    const mesh m = s.view();
    const linear_reference scan(m);
    ASSERT_EQ(scan.triangles[static_cast<std::size_t>(real - 1)]->kind, triangle_kind::sliver);
    bvh tree;
    build_bvh(tree, m, 0, GetParam());
    const std::vector<int> seen = walk(tree, scan);
    for (int i = 0; i < real; ++i) EXPECT_EQ(seen[static_cast<std::size_t>(i)], 1) << "triangle " << i;
    EXPECT_EQ(seen[static_cast<std::size_t>(real)], 0);
}

// Large meshes are sorted into grid cells first, and a cell still too
// large is sorted again: the same checks on trees built that way. The
// bunny split once into quarters fills many cells; with one triangle far
// off at the low corner, the bunny fills a single cell after it, which is
// sorted on its own (a run that starts past the array's start); a
// quarter-million copies of one triangle (square to the x axis, every
// thousandth of them collinear) fill one cell that no grid can cut. Rays
// that hit the copies must find the first of them.
struct large_mesh {
    const char* name;
    vector3 outlier;  // a corner of the far triangle; (0, 0, 0): none
    int copies;       // of one triangle, instead of the split bunny
    long rays;
};

const large_mesh large_meshes[] = {
    {"the bunny split once", {0.0f, 0.0f, 0.0f}, 0, 900},
    {"and a triangle far off at the low corner", {-1e6f, -1e6f, -1e6f}, 0, 900},
    {"copies of one triangle", {0.0f, 0.0f, 0.0f}, (1 << 18) + 1000, 90},
};

TEST_P(bvh_build, meshes_cut_into_cells_keep_every_promise) {
    for (const large_mesh& row : large_meshes) {
        SCOPED_TRACE(row.name);
        triangle_soup soup;
        if (row.copies > 0) {
            for (int k = 0; k < row.copies; ++k) {
                const vector3 top = k % 1000 == 999 ? vector3{100.0f, 0.0f, 0.0f} : vector3{100.0f, 500.0f, 300.0f};
                soup.add({100.0f, 0.0f, -300.0f}, {100.0f, 0.0f, 300.0f}, top);
            }
        } else {
            soup = subdivided(bunny_patch({0.0f, 0.0f, 0.0f}, inf));
        }
        const vector3 o = row.outlier;
        if (!(o == vector3{0.0f, 0.0f, 0.0f})) soup.add(o, o + vector3{5000.0f, 0.0f, 0.0f}, o + vector3{0.0f, 5000.0f, 0.0f});
        ASSERT_GT(soup.size(), 1 << 18);
        const mesh m = soup.view();
        bvh one, two;
        build_bvh(one, m, 1, GetParam());
        build_bvh(two, m, 2, GetParam());
        expect_same_tree(one, two);
        const linear_reference scan(m);
        const std::vector<int> seen = walk(two, scan);
        for (std::size_t k = 0; k < seen.size(); ++k)
            ASSERT_EQ(seen[k], scan.triangles[k]->kind == triangle_kind::degenerate ? 0 : 1) << "triangle " << k;
        ray_maker maker{scan, row.copies > 0 ? vector3{400.0f, 100.0f, 0.0f} : bunny_inside(), std::mt19937(8)};
        tally t;
        for (long k = 0; k < row.rays / ray_share + 9; ++k)
            compare(two, scan, maker.next(static_cast<int>(k % ray_kinds)), 150000.0f, t);
        expect_exact(t, t.rays / 5);
    }
}
