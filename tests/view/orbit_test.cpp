// tools/view/orbit.cpp: home is the program's view bit for bit, and the
// orbit's turns, zoom and pan against positions and projections worked out
// by hand around a pivot at (0, 500, 0): home's position is (-3000, 300,
// 500) from it, 3056.1414 units (the square root of 9,340,000), and home's
// look_at (0, -100, 0).

#include "tools/view/orbit.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/described_camera.h"
#include "tests/support/expect_vector.h"

namespace {

constexpr double pi = 3.14159265358979323846;
const orbit_rig rig{camera_view{}, {0.0, 500.0, 0.0}};
const double home_distance = std::sqrt(9340000.0);
// Home's elevation: the described forward's y is its sine.
const double home_elevation = std::asin(described::forward.y);

described::vec widen(const vector3& v) { return {v.x, v.y, v.z}; }
described::vec cross(described::vec a, described::vec b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double length(described::vec a) { return std::sqrt(described::dot(a, a)); }
described::vec forward(const camera_view& v) { return described::unit(widen(v.look_at) - widen(v.position)); }
double distance_to_pivot(const vector3& p) { return length(widen(p) - described::vec{0.0, 500.0, 0.0}); }

// Where a world point lands in the 800 x 600 picture of `v`, in pixels,
// through the pinhole 5 units behind the screen's centre, the screen 4 x 3
// camera-local units of |up x F| each.
void pixel_of(const camera_view& v, described::vec p, double* x, double* y) {
    const described::vec f = forward(v);
    const described::vec right = cross(widen(v.up), f);
    const described::vec up = cross(right, -1.0 * f);
    const described::vec d = p - (widen(v.position) - 5.0 * f);
    const double depth = described::dot(d, f);
    const double a = 5.0 * described::dot(d, right) / described::dot(right, right) / depth;
    const double b = 5.0 * described::dot(d, up) / described::dot(up, up) / depth;
    *x = (a + 2.0) / 4.0 * 800.0;
    *y = (1.5 - b) / 3.0 * 600.0;
}

TEST(orbit, home_is_the_programs_view_bit_for_bit) {
    const camera_view v = view_of(rig, orbit{});
    EXPECT_VECTOR_EQ(v.position, -3000.0f, 800.0f, 500.0f);
    EXPECT_VECTOR_EQ(v.look_at, 0.0f, 400.0f, 0.0f);
    EXPECT_VECTOR_EQ(v.up, 0.0f, 1.0f, 0.0f);
    EXPECT_EQ(v.half_height, 1.5f);
    EXPECT_EQ(v.width, 800);
    EXPECT_EQ(v.height, 600);
    // Whatever the pivot: the bunny's box centre is not a round number.
    const camera_view b = view_of({camera_view{}, {-84.127495, 550.769996, -7.684995}}, orbit{});
    EXPECT_VECTOR_EQ(b.position, -3000.0f, 800.0f, 500.0f);
    EXPECT_VECTOR_EQ(b.look_at, 0.0f, 400.0f, 0.0f);
    EXPECT_VECTOR_EQ(b.up, 0.0f, 1.0f, 0.0f);
}

TEST(orbit, a_quarter_turn_carries_the_camera_counter_clockwise_seen_from_above) {
    // (x, z) from the pivot becomes (z, -x): (-3000, 500) to (500, 3000).
    const camera_view v = view_of(rig, turned(rig, orbit{}, pi / 2.0, 0.0));
    EXPECT_NEAR(v.position.x, 500.0, 1e-3);
    EXPECT_NEAR(v.position.y, 800.0, 1e-3);
    EXPECT_NEAR(v.position.z, 3000.0, 1e-3);
    EXPECT_NEAR(v.look_at.x, 0.0, 1e-3);
    EXPECT_NEAR(v.look_at.y, 400.0, 1e-3);
    EXPECT_NEAR(v.look_at.z, 0.0, 1e-3);
    EXPECT_NEAR(v.up.y, 1.0, 1e-6);  // the same elevation: home's field of view with up of length 1
}

TEST(orbit, turns_keep_the_distance_to_the_pivot_and_home_s_field_of_view) {
    const struct {
        double yaw, pitch;
    } cases[] = {{0.3, 0.0}, {-2.0, 0.0}, {0.0, 0.4}, {0.0, -0.5}, {1.0, 1.2}, {4.0, -0.3}, {-7.0, 0.9}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "yaw " << c.yaw << ", pitch " << c.pitch);
        const camera_view v = view_of(rig, turned(rig, orbit{}, c.yaw, c.pitch));
        EXPECT_NEAR(distance_to_pivot(v.position), home_distance, 2e-3);
        EXPECT_NEAR(distance_to_pivot(v.look_at), 100.0, 1e-4);
        // The pitch lowers the view by just its angle; the turn leaves it.
        EXPECT_NEAR(std::asin(forward(v).y), home_elevation - c.pitch, 1e-6);
        // The screen's world size is |up x F| times its local size.
        EXPECT_NEAR(length(cross(widen(v.up), forward(v))), described::axis_length, 1e-6);
        EXPECT_EQ(v.up.x, 0.0f);
        EXPECT_EQ(v.up.z, 0.0f);
    }
}

TEST(orbit, pitch_raises_the_camera_and_stops_at_85_degrees_down_and_45_up) {
    const camera_view raised = view_of(rig, turned(rig, orbit{}, 0.0, 0.2));
    EXPECT_GT(raised.position.y, 800.0f);
    const double degree = pi / 180.0;
    const orbit down = turned(rig, orbit{}, 0.0, 10.0);
    EXPECT_NEAR(std::asin(forward(view_of(rig, down)).y), -85.0 * degree, 1e-6);
    const orbit up = turned(rig, orbit{}, 0.0, -10.0);
    EXPECT_NEAR(std::asin(forward(view_of(rig, up)).y), 45.0 * degree, 1e-6);
    // Held there, not wound up: a step back moves it at once.
    EXPECT_NEAR(turned(rig, down, 0.0, -0.1).pitch, down.pitch - 0.1, 1e-12);
}

TEST(orbit, zoom_scales_the_rig_about_the_pivot_within_a_tenth_and_ten_times) {
    const camera_view half = view_of(rig, zoomed(orbit{}, 0.5));
    EXPECT_NEAR(half.position.x, -1500.0, 1e-3);
    EXPECT_NEAR(half.position.y, 650.0, 1e-3);
    EXPECT_NEAR(half.position.z, 250.0, 1e-3);
    EXPECT_NEAR(half.look_at.y, 450.0, 1e-3);
    EXPECT_EQ(zoomed(orbit{}, 1000.0).zoom, 10.0);
    EXPECT_EQ(zoomed(orbit{}, 1e-4).zoom, 0.1);
    EXPECT_NEAR(zoomed(zoomed(orbit{}, 1.25), 1.25).zoom, 1.5625, 1e-12);
}

TEST(orbit, pan_moves_the_pivot_by_the_pixels_asked_for) {
    const described::vec pivot{0.0, 500.0, 0.0};
    const struct {
        double yaw, pitch, zoom, right, down;
    } cases[] = {{0.0, 0.0, 1.0, 10.0, -20.0}, {1.0, 0.5, 1.0, -40.0, 0.0}, {-0.5, -0.3, 0.4, 0.0, 40.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "yaw " << c.yaw << ", pitch " << c.pitch << ", zoom " << c.zoom);
        const orbit o = zoomed(turned(rig, orbit{}, c.yaw, c.pitch), c.zoom);
        const orbit p = panned(rig, o, c.right, c.down, 600);
        double x0, y0, x1, y1;
        pixel_of(view_of(rig, o), pivot, &x0, &y0);
        pixel_of(view_of(rig, p), pivot + described::vec{p.pan.x, p.pan.y, p.pan.z}, &x1, &y1);
        // The pivot (moved with the pan) keeps its pixel; the scene moves.
        EXPECT_NEAR(x1, x0, 1e-2);
        EXPECT_NEAR(y1, y0, 1e-2);
        pixel_of(view_of(rig, p), pivot, &x1, &y1);
        EXPECT_NEAR(x1 - x0, c.right, 0.05);
        EXPECT_NEAR(y1 - y0, c.down, 0.05);
    }
}

}  // namespace
