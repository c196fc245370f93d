// world/fit.cpp: the turn to the file's up axis, and --fit: any mesh of any
// size, units, place and up axis ends up where the bunny stands, checked by
// projecting it with the described camera rather than the code's own.

#include "world/fit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "tests/support/bunny.h"
#include "tests/support/described_camera.h"

namespace {

// A mesh over vertices the test owns (only vertices matter to a placement).
struct vertex_mesh {
    std::vector<vector3> vertices;
    mesh m;
    explicit vertex_mesh(std::vector<vector3> v) : vertices(std::move(v)) {
        m.vertex_count = static_cast<int>(vertices.size());
        m.face_count = 0;
        m.vertices = vertices.data();
    }
};

vector3 scaled(const described::vec& p, double s) {
    return {static_cast<float>(p.x * s), static_cast<float>(p.y * s), static_cast<float>(p.z * s)};
}

// A box of `size` at `at` (file units), with a spire standing out of the
// face that `up` names, half the box's extent along it: the last vertex.
std::vector<vector3> box_with_spire(described::vec size, described::vec at, up_axis up, double units) {
    std::vector<vector3> v;
    for (int k = 0; k < 8; ++k)
        v.push_back(scaled({at.x + (k & 1 ? size.x : 0.0), at.y + (k & 2 ? size.y : 0.0), at.z + (k & 4 ? size.z : 0.0)},
                           units));
    double spire[3] = {at.x + size.x / 2, at.y + size.y / 2, at.z + size.z / 2};
    const double extent[3] = {size.x, size.y, size.z};
    spire[up.axis] += up.sign * extent[up.axis];
    v.push_back(scaled({spire[0], spire[1], spire[2]}, units));
    return v;
}

struct picture_box {
    double left = HUGE_VAL, right = -HUGE_VAL, bottom = HUGE_VAL, top = -HUGE_VAL;
    bool in_front = true;
    void add(described::vec p) {
        double a = 0.0, b = 0.0;
        in_front = in_front && described::screen_point(p, &a, &b);
        left = std::min(left, a);
        right = std::max(right, a);
        bottom = std::min(bottom, b);
        top = std::max(top, b);
    }
};

}  // namespace

TEST(fit, the_bunny_box_is_the_loaded_bunnys) {
    mesh bunny = parse_bunny();
    vector3 lo = bunny.vertices[0], hi = bunny.vertices[0];
    for (int i = 0; i < bunny.vertex_count; ++i) {
        const vector3 v = bunny.vertices[i];
        lo = {std::min(lo.x, v.x), std::min(lo.y, v.y), std::min(lo.z, v.z)};
        hi = {std::max(hi.x, v.x), std::max(hi.y, v.y), std::max(hi.z, v.z)};
    }
    EXPECT_EQ(lo, bunny_box.lo);
    EXPECT_EQ(hi, bunny_box.hi);

    // Fitted, the bunny stays where it stands.
    std::vector<vector3> before(bunny.vertices, bunny.vertices + bunny.vertex_count);
    mesh_placement fit;
    fit.fit = true;
    place_mesh(bunny, fit);
    double moved = 0.0;
    for (int i = 0; i < bunny.vertex_count; ++i) {
        const vector3 d = bunny.vertices[i] - before[static_cast<std::size_t>(i)];
        moved = std::max(moved, static_cast<double>(std::fabs(d.x) + std::fabs(d.y) + std::fabs(d.z)));
    }
    EXPECT_LT(moved, 1e-3);
    release_mesh(&bunny);
}

TEST(fit, turning_swaps_and_negates_coordinates_and_keeps_every_front) {
    // (1, 2, 3) with each axis up; the turn is a rotation, so a triangle's
    // normal turns with it rather than flipping.
    const struct {
        up_axis up;
        vector3 point;
    } cases[] = {
        {{1, 1}, {1.0f, 2.0f, 3.0f}},  {{1, -1}, {1.0f, -2.0f, -3.0f}}, {{2, 1}, {1.0f, 3.0f, -2.0f}},
        {{2, -1}, {1.0f, -3.0f, 2.0f}}, {{0, 1}, {-2.0f, 1.0f, 3.0f}},  {{0, -1}, {2.0f, -1.0f, 3.0f}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("axis " + std::to_string(c.up.axis) + ", sign " + std::to_string(c.up.sign));
        // The point, then a triangle whose normal is the file's up axis.
        vector3 corner[3] = {{0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}};
        float* c1 = &corner[1].x;
        float* c2 = &corner[2].x;
        c1[(c.up.axis + 1) % 3] = static_cast<float>(c.up.sign);
        c2[(c.up.axis + 2) % 3] = 1.0f;
        vertex_mesh m({{1.0f, 2.0f, 3.0f}, corner[0], corner[1], corner[2]});
        mesh_placement turn;
        turn.up = c.up;
        place_mesh(m.m, turn);
        EXPECT_EQ(m.vertices[0], c.point);
        const vector3 n = cross(m.vertices[2] - m.vertices[1], m.vertices[3] - m.vertices[1]);
        EXPECT_EQ(n, (vector3{0.0f, 1.0f, 0.0f}));
    }
}

TEST(fit, any_mesh_stands_where_the_bunny_stands_as_large_and_wholly_in_frame) {
    // The bunny's box as the described camera sees it.
    picture_box bunny;
    for (int k = 0; k < 8; ++k)
        bunny.add({k & 1 ? bunny_box.hi.x : bunny_box.lo.x, k & 2 ? bunny_box.hi.y : bunny_box.lo.y,
                   k & 4 ? bunny_box.hi.z : bunny_box.lo.z});
    const double bunny_width = bunny.right - bunny.left;
    const double bunny_height = bunny.top - bunny.bottom;
    const double foot_x = (bunny_box.lo.x + bunny_box.hi.x) / 2.0;
    const double foot_z = (bunny_box.lo.z + bunny_box.hi.z) / 2.0;

    struct fit_case {
        const char* what;
        described::vec size, at;
        up_axis up;
        double units;  // scene units per file unit (the loader gives 5000)
        int width, height;
        bool frame_bound;  // the frame stops it before it is as large as the bunny
    };
    const fit_case cases[] = {
        {"a 2 m motorbike, off the origin", {2.0, 1.1, 0.7}, {100.0, 50.0, -30.0}, {1, 1}, 5000.0, 800, 600, false},
        {"a part in millimetres, z up", {40.0, 25.0, 12.0}, {-5.0, 3.0, 0.0}, {2, 1}, 5000.0, 800, 600, false},
        {"a tall mast, z up", {0.1, 0.1, 3.0}, {0.0, 0.0, 0.0}, {2, 1}, 5000.0, 800, 600, false},
        {"a plate 10 km across", {1e4, 5.0, 1e4}, {1e6, -2e5, 3e5}, {1, 1}, 5000.0, 800, 600, false},
        {"a speck, x down", {1e-6, 2e-6, 3e-6}, {1e-3, 0.0, 0.0}, {0, -1}, 5000.0, 1200, 900, false},
        {"a rod pointing at the camera, -z up", {8.0, 0.2, 0.2}, {0.0, 0.0, 0.0}, {2, -1}, 1.0, 800, 600, false},
        {"a wide plate in a narrow picture, -y up", {3.0, 0.2, 3.0}, {0.0, 0.0, 0.0}, {1, -1}, 1.0, 240, 600, true},
        {"a block in a wide picture, +x up", {1.0, 1.0, 1.0}, {0.0, 0.0, 0.0}, {0, 1}, 1.0, 1600, 400, false},
    };
    for (const fit_case& c : cases) {
        SCOPED_TRACE(c.what);
        vertex_mesh m(box_with_spire(c.size, c.at, c.up, c.units));
        mesh_placement fit;
        fit.fit = true;
        fit.up = c.up;
        fit.view.width = c.width;
        fit.view.height = c.height;
        place_mesh(m.m, fit);

        picture_box seen;
        double lowest = HUGE_VAL, highest = -HUGE_VAL;
        double lo_x = HUGE_VAL, hi_x = -HUGE_VAL, lo_z = HUGE_VAL, hi_z = -HUGE_VAL;
        for (const vector3& v : m.vertices) {
            lowest = std::min(lowest, static_cast<double>(v.y));
            highest = std::max(highest, static_cast<double>(v.y));
            lo_x = std::min(lo_x, static_cast<double>(v.x));
            hi_x = std::max(hi_x, static_cast<double>(v.x));
            lo_z = std::min(lo_z, static_cast<double>(v.z));
            hi_z = std::max(hi_z, static_cast<double>(v.z));
        }
        for (int k = 0; k < 8; ++k) seen.add({k & 1 ? hi_x : lo_x, k & 2 ? highest : lowest, k & 4 ? hi_z : lo_z});
        const double extent = std::max({hi_x - lo_x, highest - lowest, hi_z - lo_z});

        // Resting on the floor as the bunny does, on the bunny's footprint.
        EXPECT_NEAR(lowest, bunny_box.lo.y, 1e-3);
        EXPECT_NEAR((lo_x + hi_x) / 2.0, foot_x, 1e-5 * extent + 1e-3);
        EXPECT_NEAR((lo_z + hi_z) / 2.0, foot_z, 1e-5 * extent + 1e-3);
        // Upright: the spire is the top, straight above the footprint's centre.
        const vector3 spire = m.vertices.back();
        EXPECT_EQ(spire.y, static_cast<float>(highest));
        EXPECT_NEAR(spire.x, foot_x, 1e-5 * extent + 1e-3);
        EXPECT_NEAR(spire.z, foot_z, 1e-5 * extent + 1e-3);

        // Wholly in the frame, and as large as the bunny unless the frame
        // stops it first.
        const double half_width = 1.5 * c.width / c.height;
        const double slack = 1e-6;
        ASSERT_TRUE(seen.in_front);
        EXPECT_GE(seen.left, -half_width - slack);
        EXPECT_LE(seen.right, half_width + slack);
        EXPECT_GE(seen.bottom, -1.5 - slack);
        EXPECT_LE(seen.top, 1.5 + slack);
        const double size = std::max((seen.right - seen.left) / bunny_width, (seen.top - seen.bottom) / bunny_height);
        const bool at_frame = seen.left < -half_width + 1e-4 || seen.right > half_width - 1e-4 ||
                              seen.bottom < -1.5 + 1e-4 || seen.top > 1.5 - 1e-4;
        EXPECT_LE(size, 1.0 + 1e-6);
        EXPECT_EQ(at_frame, c.frame_bound);
        EXPECT_GT(size, at_frame ? 0.0 : 1.0 - 1e-4);
    }
}

TEST(fit, a_mesh_without_vertices_reads_none) {
    vertex_mesh empty({});
    empty.m.vertices = nullptr;  // any read would fault
    mesh_placement fit;
    fit.fit = true;
    fit.up = {2, -1};
    place_mesh(empty.m, fit);
    EXPECT_EQ(empty.m.vertex_count, 0);
}
