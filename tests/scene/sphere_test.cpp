#include "scene/sphere.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// Objects are not copyable; build them in place.
struct test_sphere : sphere {
    test_sphere(vector3 c, float r) {
        centre = c;
        radius = r;
    }
};

const ray along_z{{0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 1.0f}};

}  // namespace

TEST(sphere_roots, near_root_from_outside_lowers_distance) {
    test_sphere s({0.0f, 0.0f, 10.0f}, 2.0f);
    float distance = 150000.0f;
    EXPECT_EQ(s.intersect(along_z, distance), 1);
    EXPECT_EQ(distance, 8.0f);
}

TEST(sphere_roots, origin_inside_takes_far_root_with_inside_code) {
    test_sphere s({0.0f, 0.0f, 10.0f}, 2.0f);
    float distance = 150000.0f;
    EXPECT_EQ(s.intersect({{0.0f, 0.0f, 10.0f}, {0.0f, 0.0f, 1.0f}}, distance), -1);
    EXPECT_EQ(distance, 2.0f);
}

TEST(sphere_roots, tangent_ray_hits_at_the_touching_point) {
    // disc is exactly 0: b*b = 100, |v|^2 = 104, r^2 = 4.
    test_sphere s({2.0f, 0.0f, 10.0f}, 2.0f);
    float distance = 150000.0f;
    EXPECT_EQ(s.intersect(along_z, distance), 1);
    EXPECT_EQ(distance, 10.0f);
}

TEST(sphere_roots, ray_passing_beside_or_sphere_behind_misses) {
    test_sphere beside({2.5f, 0.0f, 10.0f}, 2.0f);
    test_sphere behind({0.0f, 0.0f, -10.0f}, 2.0f);
    float distance = 150000.0f;
    EXPECT_EQ(beside.intersect(along_z, distance), 0);
    EXPECT_EQ(behind.intersect(along_z, distance), 0);
    EXPECT_EQ(distance, 150000.0f);
}

TEST(sphere_bounds, hit_must_be_strictly_nearer_than_distance) {
    test_sphere s({0.0f, 0.0f, 10.0f}, 2.0f);
    float distance = 5.0f;
    EXPECT_EQ(s.intersect(along_z, distance), 0);
    EXPECT_EQ(distance, 5.0f);
    // Exactly at the incoming distance is not nearer; the far root must not
    // be reported as a second chance either.
    distance = 8.0f;
    EXPECT_EQ(s.intersect(along_z, distance), 0);
    EXPECT_EQ(distance, 8.0f);
}

TEST(sphere_bounds, roots_at_or_below_point_one_are_skipped) {
    // Starting on the surface pointing outwards: near < 0, far ~ 0.
    test_sphere s({0.0f, 0.0f, 2.0f}, 2.0f);
    float distance = 150000.0f;
    EXPECT_EQ(s.intersect({{0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, -1.0f}}, distance), 0);
    // Starting on the surface pointing inwards: the chord, as an inside hit.
    EXPECT_EQ(s.intersect(along_z, distance), -1);
    EXPECT_EQ(distance, 4.0f);

    // Entering 0.05 ahead of the origin: the entry is skipped, the exit taken.
    test_sphere close({0.0f, 0.0f, 2.05f}, 2.0f);
    distance = 150000.0f;
    EXPECT_EQ(close.intersect(along_z, distance), -1);
    EXPECT_FLOAT_EQ(distance, 4.05f);

    // Centre 0.2, radius 0.1 (both floats): disc is 0.1*0.1, s is 0.1 and the
    // near root is exactly the float 0.1, which is not beyond the bound.
    ASSERT_EQ(static_cast<float>(std::sqrt(static_cast<double>(0.1f * 0.1f))), 0.1f);
    test_sphere at_bound({0.0f, 0.0f, 0.2f}, 0.1f);
    distance = 150000.0f;
    EXPECT_EQ(at_bound.intersect(along_z, distance), -1);
    EXPECT_FLOAT_EQ(distance, 0.3f);
    // One ulp farther away the near root clears the bound.
    test_sphere past_bound({0.0f, 0.0f, std::nextafter(0.2f, 1.0f)}, 0.1f);
    distance = 150000.0f;
    EXPECT_EQ(past_bound.intersect(along_z, distance), 1);
    EXPECT_GT(distance, 0.1f);
}

TEST(sphere_normal, points_from_centre_towards_point_with_unit_length) {
    test_sphere s({1.0f, 2.0f, 3.0f}, 2.0f);
    const vector3 on_surface = s.get_normal({1.0f, 4.0f, 3.0f});
    const vector3 far_out = s.get_normal({1.0f, 40.0f, 3.0f});
    EXPECT_EQ(on_surface, (vector3{0.0f, 1.0f, 0.0f}));
    EXPECT_EQ(far_out, on_surface);
    const vector3 n = s.get_normal({4.0f, 6.0f, 3.0f});
    EXPECT_FLOAT_EQ(n.x, 0.6f);
    EXPECT_FLOAT_EQ(n.y, 0.8f);
    EXPECT_EQ(n.z, 0.0f);
}
