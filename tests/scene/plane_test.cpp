#include "scene/plane.h"

#include <gtest/gtest.h>

namespace {

// Objects are not copyable; build them in place.
struct test_plane : plane {
    test_plane(vector3 n, float o) {
        normal = n;
        offset = o;
    }
};

const ray downwards{{0.0f, 800.0f, 0.0f}, {0.0f, -1.0f, 0.0f}};

}  // namespace

TEST(plane_direction, ray_against_the_normal_hits_in_front) {
    test_plane p({0.0f, 1.0f, 0.0f}, 170.0f);
    float distance = 150000.0f;
    EXPECT_EQ(p.intersect(downwards, distance), 1);
    EXPECT_EQ(distance, 630.0f);
}

TEST(plane_direction, ray_along_the_normal_or_parallel_misses) {
    test_plane p({0.0f, 1.0f, 0.0f}, 170.0f);
    float distance = 150000.0f;
    EXPECT_EQ(p.intersect({{0.0f, 800.0f, 0.0f}, {0.0f, 1.0f, 0.0f}}, distance), 0);
    EXPECT_EQ(p.intersect({{0.0f, 100.0f, 0.0f}, {0.0f, 1.0f, 0.0f}}, distance), 0);
    EXPECT_EQ(p.intersect({{0.0f, 800.0f, 0.0f}, {1.0f, 0.0f, 0.0f}}, distance), 0);
    EXPECT_EQ(p.intersect({{0.0f, 170.0f, 0.0f}, {0.0f, 0.0f, 1.0f}}, distance), 0);
    EXPECT_EQ(distance, 150000.0f);
}

TEST(plane_bounds, plane_behind_the_origin_is_not_hit) {
    // The plane lies 70 units behind the origin: t = -70 must not count.
    test_plane p({0.0f, 1.0f, 0.0f}, 170.0f);
    float distance = 150000.0f;
    EXPECT_EQ(p.intersect({{0.0f, 100.0f, 0.0f}, {0.0f, -1.0f, 0.0f}}, distance), 0);
    EXPECT_EQ(distance, 150000.0f);
}

TEST(plane_bounds, origin_on_the_plane_is_not_hit) {
    test_plane p({0.0f, 1.0f, 0.0f}, 170.0f);
    float distance = 150000.0f;
    EXPECT_EQ(p.intersect({{5.0f, 170.0f, -3.0f}, {0.0f, -1.0f, 0.0f}}, distance), 0);
    EXPECT_EQ(distance, 150000.0f);
}

TEST(plane_bounds, hit_at_or_beyond_distance_is_a_miss) {
    test_plane p({0.0f, 1.0f, 0.0f}, 170.0f);
    float distance = 630.0f;
    EXPECT_EQ(p.intersect(downwards, distance), 0);
    distance = 600.0f;
    EXPECT_EQ(p.intersect(downwards, distance), 0);
    EXPECT_EQ(distance, 600.0f);
}

TEST(plane_normal, length_two_normal_hits_at_the_same_distance_and_reports_unit_normal) {
    test_plane unit({0.0f, 1.0f, 0.0f}, 170.0f);
    test_plane doubled({0.0f, 2.0f, 0.0f}, 340.0f);
    const ray slanted{{0.0f, 800.0f, 0.0f}, {0.6f, -0.8f, 0.0f}};
    float d_unit = 150000.0f;
    float d_doubled = 150000.0f;
    EXPECT_EQ(unit.intersect(slanted, d_unit), 1);
    EXPECT_EQ(doubled.intersect(slanted, d_doubled), 1);
    EXPECT_EQ(d_unit, d_doubled);
    EXPECT_FLOAT_EQ(d_unit, 787.5f);

    EXPECT_EQ(doubled.get_normal({1.0f, 2.0f, 3.0f}), (vector3{0.0f, 1.0f, 0.0f}));
    EXPECT_EQ(doubled.get_normal({-50.0f, 0.0f, 9.0f}), (vector3{0.0f, 1.0f, 0.0f}));
    EXPECT_EQ(doubled.normal, (vector3{0.0f, 2.0f, 0.0f}));
}

TEST(plane_normal, zero_normal_is_never_hit) {
    test_plane p({0.0f, 0.0f, 0.0f}, 0.0f);
    float distance = 150000.0f;
    EXPECT_EQ(p.intersect(downwards, distance), 0);
    EXPECT_EQ(distance, 150000.0f);
}
