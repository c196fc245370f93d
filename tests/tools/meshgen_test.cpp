#include "tools/meshgen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "mesh/obj/load_obj.h"
#include "tests/support/bunny.h"

namespace {

constexpr double pi = 3.14159265358979323846;

std::string obj_text(const poly_mesh& m) {
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* f = open_memstream(&data, &size);
    EXPECT_TRUE(write_obj(m, f, "test"));
    std::fclose(f);
    std::string text(data, size);
    std::free(data);
    return text;
}

mesh parse(const std::string& text) {
    mesh m;
    std::string error;
    EXPECT_TRUE(parse_obj(text.data(), text.size(), "generated", &m, &error)) << error;
    return m;
}

poly_mesh bunny() {
    mesh m = parse_bunny();
    poly_mesh p = from_loaded(m);
    release_mesh(&m);
    return p;
}

point3 cross(const point3& a, const point3& b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
point3 sub(const point3& a, const point3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

// Twice the area vector of triangle k of a triangle mesh.
point3 area2(const poly_mesh& m, std::size_t k) {
    const point3& a = m.vertices[static_cast<std::size_t>(m.corners[3 * k])];
    return cross(sub(m.vertices[static_cast<std::size_t>(m.corners[3 * k + 1])], a),
                 sub(m.vertices[static_cast<std::size_t>(m.corners[3 * k + 2])], a));
}

// Every edge is met once in each direction: no hole, no crack at a
// midpoint, and every face wound like its neighbours.
bool closed_and_consistent(const poly_mesh& m) {
    std::multiset<std::pair<int, int>> edges;
    for (std::int64_t k = 0; k < m.face_count(); ++k) {
        const std::int64_t b = m.face_start[static_cast<std::size_t>(k)], e = m.face_start[static_cast<std::size_t>(k) + 1];
        for (std::int64_t i = b; i < e; ++i)
            edges.insert({m.corners[static_cast<std::size_t>(i)], m.corners[static_cast<std::size_t>(i + 1 < e ? i + 1 : b)]});
    }
    for (const auto& e : edges)
        if (edges.count(e) != 1 || edges.count({e.second, e.first}) != 1) return false;
    return true;
}

// Positive when the faces point outwards, and then the enclosed volume.
double volume(const poly_mesh& m) {
    double v = 0.0;
    for (std::int64_t k = 0; k < m.face_count(); ++k) {
        const std::size_t b = static_cast<std::size_t>(m.face_start[static_cast<std::size_t>(k)]);
        const std::size_t e = static_cast<std::size_t>(m.face_start[static_cast<std::size_t>(k) + 1]);
        const point3& p = m.vertices[static_cast<std::size_t>(m.corners[b])];
        for (std::size_t i = b + 1; i + 1 < e; ++i) {
            const point3 c = cross(m.vertices[static_cast<std::size_t>(m.corners[i])], m.vertices[static_cast<std::size_t>(m.corners[i + 1])]);
            v += (p.x * c.x + p.y * c.y + p.z * c.z) / 6.0;
        }
    }
    return v;
}

}  // namespace

TEST(meshgen, bunny_written_back_loads_as_the_same_vertices_and_faces) {
    mesh original = parse_bunny();
    mesh again = parse(obj_text(from_loaded(original)));
    ASSERT_EQ(again.vertex_count, original.vertex_count);
    ASSERT_EQ(again.face_count, original.face_count);
    EXPECT_EQ(std::memcmp(again.vertices, original.vertices, sizeof(vector3) * static_cast<std::size_t>(original.vertex_count)), 0);
    EXPECT_EQ(std::memcmp(again.faces, original.faces, sizeof(face_corners) * static_cast<std::size_t>(original.face_count)), 0);
    release_mesh(&original);
    release_mesh(&again);
}

TEST(meshgen, subdivision_keeps_each_triangles_plane_winding_and_area) {
    const poly_mesh b = bunny();
    const poly_mesh s = subdivide(b, 1);
    ASSERT_EQ(s.face_count(), 4 * b.face_count());
    ASSERT_EQ(s.triangle_count(), s.face_count());
    for (std::size_t k = 0; k < static_cast<std::size_t>(b.face_count()); ++k) {
        const point3 parent = area2(b, k);
        for (std::size_t j = 0; j < 4; ++j) {
            const point3 child = area2(s, 4 * k + j);
            const double tolerance = 1e-9 * std::sqrt(parent.x * parent.x + parent.y * parent.y + parent.z * parent.z);
            ASSERT_NEAR(4 * child.x, parent.x, tolerance) << "face " << k;
            ASSERT_NEAR(4 * child.y, parent.y, tolerance) << "face " << k;
            ASSERT_NEAR(4 * child.z, parent.z, tolerance) << "face " << k;
        }
    }
}

TEST(meshgen, subdivision_shares_midpoints_so_a_closed_mesh_stays_closed) {
    const poly_mesh p = make_platform();
    std::set<std::pair<int, int>> edges;
    for (std::size_t i = 0; i < p.corners.size(); ++i) {
        const int a = p.corners[i], c = p.corners[i - i % 3 + (i + 1) % 3];
        edges.insert({std::min(a, c), std::max(a, c)});
    }
    const poly_mesh once = subdivide(p, 1);
    EXPECT_EQ(once.vertices.size(), p.vertices.size() + edges.size());
    const poly_mesh twice = subdivide(p, 2);
    EXPECT_EQ(twice.face_count(), 16 * p.face_count());
    EXPECT_TRUE(closed_and_consistent(twice));
    EXPECT_NEAR(volume(twice), volume(p), 1e-9 * volume(p));
}

TEST(meshgen, cylinder_loads_as_16380_triangles_closed_and_facing_out) {
    const poly_mesh c = make_cylinder(4096);
    mesh loaded = parse(obj_text(c));
    EXPECT_EQ(loaded.face_count, 16380);
    release_mesh(&loaded);
    EXPECT_TRUE(closed_and_consistent(c));
    const place_box box;
    const double r = 0.5 * std::min(box.hi.x - box.lo.x, box.hi.z - box.lo.z);
    const double h = box.hi.y - c.vertices[0].y;
    EXPECT_NEAR(volume(c), 2048 * std::sin(2 * pi / 4096) * r * r * h, 1e-9);
}

// The volume also shows that no two triangles of a face overlap.
TEST(meshgen, platform_is_a_closed_plate_with_12_slots) {
    const poly_mesh p = make_platform();
    EXPECT_EQ(p.triangle_count(), 6156);
    EXPECT_TRUE(closed_and_consistent(p));
    const place_box box;
    const double r = 0.002, length = box.hi.x - box.lo.x - 2 * 0.008 - 2 * r;
    const double slot = 2 * r * length + 62 * std::sin(pi / 62) * r * r;
    EXPECT_NEAR(volume(p), ((box.hi.x - box.lo.x) * (box.hi.z - box.lo.z) - 12 * slot) * 0.004, 1e-12);
}

TEST(meshgen, outlier_and_flattened_bunny) {
    poly_mesh far = bunny();
    add_outlier(far, 1e6);
    EXPECT_EQ(far.face_count(), 69667);
    EXPECT_GT(far.vertices.back().x, 1e6 - 1);

    poly_mesh flat = bunny();
    flatten(flat, 1e-6);
    double x_lo = 1e9, x_hi = -1e9;
    for (const point3& v : flat.vertices) x_lo = std::min(x_lo, v.x), x_hi = std::max(x_hi, v.x);
    EXPECT_LT(x_hi - x_lo, 0.2e-6);
    EXPECT_GT(x_hi - x_lo, 0.0);
    // Slivers, but still triangles once loaded: nearly none collapse.
    mesh loaded = parse(obj_text(flat));
    int collapsed = 0;
    for (int k = 0; k < loaded.face_count; ++k) collapsed += make_face(loaded, k).normal == vector3{};
    EXPECT_LT(collapsed, loaded.face_count / 100);
    release_mesh(&loaded);
}

TEST(meshgen, two_sided_follows_every_face_with_its_reversal) {
    // Polygons keep their first corner, so the loader's fans pair up: each
    // triangle and its copy, the same corners facing the other way.
    poly_mesh m;
    m.vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}};
    m.add_face({0, 1, 2, 3});
    m.add_face({0, 4, 1});
    const poly_mesh both = two_sided(m);
    ASSERT_EQ(both.face_count(), 4);
    EXPECT_EQ(both.corners, (std::vector<std::int32_t>{0, 1, 2, 3, 0, 3, 2, 1, 0, 4, 1, 0, 1, 4}));
    EXPECT_EQ(both.vertices.size(), m.vertices.size());

    mesh loaded = parse(obj_text(two_sided(bunny())));
    ASSERT_EQ(loaded.face_count, 2 * 69666);
    int unpaired = 0;
    for (int k = 0; k < loaded.face_count; k += 2) {
        const face f = make_face(loaded, k), g = make_face(loaded, k + 1);
        unpaired += !(g.vertex[0] == f.vertex[0] && g.vertex[1] == f.vertex[2] && g.vertex[2] == f.vertex[1] &&
                      g.normal == -f.normal);
    }
    EXPECT_EQ(unpaired, 0);
    release_mesh(&loaded);
}
