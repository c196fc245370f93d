#include "scene/triangle.h"

#include <gtest/gtest.h>

namespace {

face make_face(vector3 a, vector3 b, vector3 c, vector3 normal) {
    face f;
    f.vertex[0] = a;
    f.vertex[1] = b;
    f.vertex[2] = c;
    f.normal = normal;
    return f;
}

// Corners (0,0,10), (1,0,10), (0,1,10): the front faces +z.
triangle unit_triangle(float normal_length = 1.0f) {
    return triangle(make_face({0.0f, 0.0f, 10.0f}, {1.0f, 0.0f, 10.0f}, {0.0f, 1.0f, 10.0f},
                              {0.0f, 0.0f, normal_length}));
}

ray down_at(float x, float y) { return {{x, y, 20.0f}, {0.0f, 0.0f, -1.0f}}; }

int hit(triangle& t, const ray& r, float& distance) { return t.intersect(r, distance); }

}  // namespace

TEST(triangle_setup, precomputes_plane_edges_and_dots) {
    const triangle t = unit_triangle(0.5f);
    EXPECT_EQ(t.normal, (vector3{0.0f, 0.0f, 1.0f}));
    EXPECT_EQ(t.offset, 10.0f);
    EXPECT_EQ(t.edge1, (vector3{1.0f, 0.0f, 0.0f}));
    EXPECT_EQ(t.edge2, (vector3{0.0f, 1.0f, 0.0f}));
    EXPECT_EQ(t.dot11, 1.0f);
    EXPECT_EQ(t.dot22, 1.0f);
    EXPECT_EQ(t.dot12, 0.0f);
    EXPECT_EQ(t.get_normal({7.0f, -3.0f, 100.0f}), t.normal);
}

TEST(triangle_barycentric, interior_point_hits_at_plane_distance) {
    triangle t = unit_triangle();
    float distance = 150000.0f;
    EXPECT_EQ(hit(t, down_at(0.25f, 0.25f), distance), 1);
    EXPECT_EQ(distance, 10.0f);

    // Through the centroid of a skewed, slanted triangle.
    triangle skew(make_face({0.0f, 0.0f, 0.0f}, {3.0f, 0.0f, 3.0f}, {0.0f, 3.0f, 3.0f},
                            {-9.0f, -9.0f, 9.0f}));
    const ray r{{1.0f, 1.0f, 12.0f}, {0.0f, 0.0f, -1.0f}};
    distance = 150000.0f;
    EXPECT_EQ(hit(skew, r, distance), 1);
    EXPECT_FLOAT_EQ(distance, 10.0f);
}

TEST(triangle_barycentric, points_outside_or_beyond_the_hypotenuse_miss) {
    triangle t = unit_triangle();
    float distance = 150000.0f;
    EXPECT_EQ(hit(t, down_at(0.6f, 0.6f), distance), 0);    // u + v = 1.2
    EXPECT_EQ(hit(t, down_at(-0.1f, 0.5f), distance), 0);   // u < 0
    EXPECT_EQ(hit(t, down_at(0.5f, 1.5f), distance), 0);    // v > 1
    EXPECT_EQ(distance, 150000.0f);
}

TEST(triangle_barycentric, edges_and_corners_are_not_inside) {
    triangle t = unit_triangle();
    float distance = 150000.0f;
    EXPECT_EQ(hit(t, down_at(0.5f, 0.0f), distance), 0);   // v = 0
    EXPECT_EQ(hit(t, down_at(0.0f, 0.5f), distance), 0);   // u = 0
    EXPECT_EQ(hit(t, down_at(0.5f, 0.5f), distance), 0);   // u + v = 1
    EXPECT_EQ(hit(t, down_at(0.0f, 0.0f), distance), 0);
    EXPECT_EQ(hit(t, down_at(1.0f, 0.0f), distance), 0);
    EXPECT_EQ(hit(t, down_at(0.0f, 1.0f), distance), 0);
    EXPECT_EQ(distance, 150000.0f);
    // Just inside the hypotenuse still counts.
    EXPECT_EQ(hit(t, down_at(0.5f, 0.49f), distance), 1);
}

TEST(triangle_sides, back_face_and_parallel_rays_miss) {
    triangle t = unit_triangle();
    float distance = 150000.0f;
    EXPECT_EQ(hit(t, {{0.25f, 0.25f, 0.0f}, {0.0f, 0.0f, 1.0f}}, distance), 0);
    EXPECT_EQ(hit(t, {{0.25f, 0.25f, 10.0f}, {1.0f, 0.0f, 0.0f}}, distance), 0);
    EXPECT_EQ(distance, 150000.0f);
}

TEST(triangle_sides, reversed_corner_order_flips_the_front) {
    triangle front = unit_triangle();
    triangle back(make_face({0.0f, 0.0f, 10.0f}, {0.0f, 1.0f, 10.0f}, {1.0f, 0.0f, 10.0f},
                            {0.0f, 0.0f, -1.0f}));
    EXPECT_EQ(back.normal, (vector3{0.0f, 0.0f, -1.0f}));
    float d_front = 150000.0f;
    float d_back = 150000.0f;
    EXPECT_EQ(hit(front, down_at(0.25f, 0.25f), d_front), 1);
    EXPECT_EQ(hit(back, down_at(0.25f, 0.25f), d_back), 0);
    d_front = d_back = 150000.0f;
    const ray up{{0.25f, 0.25f, 0.0f}, {0.0f, 0.0f, 1.0f}};
    EXPECT_EQ(hit(front, up, d_front), 0);
    EXPECT_EQ(hit(back, up, d_back), 1);
}

TEST(triangle_bounds, behind_on_or_beyond_the_distance_misses) {
    triangle t = unit_triangle();
    float distance = 150000.0f;
    EXPECT_EQ(hit(t, {{0.25f, 0.25f, 5.0f}, {0.0f, 0.0f, -1.0f}}, distance), 0);   // t < 0
    EXPECT_EQ(hit(t, {{0.25f, 0.25f, 10.0f}, {0.0f, 0.0f, -1.0f}}, distance), 0);  // t = 0
    distance = 10.0f;
    EXPECT_EQ(hit(t, down_at(0.25f, 0.25f), distance), 0);   // exactly at the distance
    distance = 9.0f;
    EXPECT_EQ(hit(t, down_at(0.25f, 0.25f), distance), 0);
    EXPECT_EQ(distance, 9.0f);
}

TEST(triangle_bounds, equal_distance_goes_to_the_first_tested) {
    // Two coplanar triangles sharing the hit point: the second one tested
    // with the narrowed distance must not report the same distance again.
    triangle first = unit_triangle();
    triangle second = unit_triangle();
    float distance = 150000.0f;
    EXPECT_EQ(hit(first, down_at(0.25f, 0.25f), distance), 1);
    EXPECT_EQ(hit(second, down_at(0.25f, 0.25f), distance), 0);
    EXPECT_EQ(distance, 10.0f);
}

TEST(triangle_degenerate, collinear_corners_never_hit) {
    triangle t(make_face({0.0f, 0.0f, 10.0f}, {1.0f, 1.0f, 10.0f}, {2.0f, 2.0f, 10.0f},
                         {0.0f, 0.0f, 0.0f}));
    float distance = 150000.0f;
    for (const ray& r : {down_at(1.0f, 1.0f), down_at(0.5f, 0.6f),
                         ray{{1.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}},
                         ray{{-5.0f, 1.0f, 10.0f}, {1.0f, 0.0f, 0.0f}}}) {
        EXPECT_EQ(hit(t, r, distance), 0);
    }
    EXPECT_EQ(distance, 150000.0f);
}
