#include "scene/model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "mesh/load_obj.h"
#include "tests/support/triangle_soup.h"

namespace {

// A model over OBJ text; coordinates in the text are scene units / 5000.
std::unique_ptr<model> make_model(const std::string& text) {
    mesh* m = new mesh;
    std::string error;
    EXPECT_TRUE(parse_obj(text.data(), text.size(), "t.obj", m, &error)) << error;
    return std::make_unique<model>(m);
}

// The square |x|, |y| <= 10 at z = 0 as two triangles facing +z.
const char* const square = "v -0.002 -0.002 0\nv 0.002 -0.002 0\nv 0.002 0.002 0\nv -0.002 0.002 0\n"
                           "f 1 2 3\nf 1 3 4\n";

// Two squares facing +z, at z = 0 and z = 5 (in scene units), in the given order.
std::string two_layers(bool near_first) {
    const std::string low = "v -0.002 -0.002 0\nv 0.002 -0.002 0\nv 0 0.002 0\n";
    const std::string high = "v -0.002 -0.002 0.001\nv 0.002 -0.002 0.001\nv 0 0.002 0.001\n";
    return (near_first ? high + low : low + high) + "f 1 2 3\nf 4 5 6\n";
}

ray down_from(float x, float y, float z) { return ray{{x, y, z}, {0.0f, 0.0f, -1.0f}}; }

}  // namespace

TEST(model, bounds_centre_on_the_centroid_and_cover_every_vertex) {
    auto m = make_model("v 0 0 0\nv 0.001 0 0\nv 0 0.001 0\nf 1 2 3\n");
    const float third = 5.0f / 3.0f;
    EXPECT_FLOAT_EQ(m->bounds->centre.x, third);
    EXPECT_FLOAT_EQ(m->bounds->centre.y, third);
    EXPECT_EQ(m->bounds->centre.z, 0.0f);
    const float farthest = std::hypot(5.0f - third, third);
    EXPECT_GT(m->bounds->radius, farthest);
    EXPECT_LT(m->bounds->radius, farthest * 1.3f);  // it holds the box around the triangle
    EXPECT_EQ(m->get_type(), 0);
    EXPECT_EQ(m->triangle_count, 1);
}

TEST(model, default_bunny_fits_inside_its_bounds) {
    // A fixed radius of 500 would leave the ear tips outside.
    const std::string path = std::string(RT_SOURCE_DIR) + "/assets/bunny.obj";
    mesh* loaded = new mesh;
    std::string error;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(load_obj(std::fopen(path.c_str(), "r"), loaded, "bunny.obj", &error)) << error;
    std::fflush(stdout);
    testing::internal::GetCapturedStdout();
    model bunny(loaded);
    const mesh& g = *bunny.geometry;
    int beyond_500 = 0;
    for (int i = 0; i < g.vertex_count; ++i) {
        const vector3 d = g.vertices[i] - bunny.bounds->centre;
        const float r = std::sqrt(dot(d, d));
        EXPECT_LT(r, bunny.bounds->radius);
        beyond_500 += r > 500.0f;
    }
    EXPECT_EQ(beyond_500, 601);
    EXPECT_EQ(bunny.triangle_count, 69666);
}

TEST(model, nearest_triangle_wins_whatever_its_index) {
    for (bool near_first : {true, false}) {
        auto m = make_model(two_layers(near_first));
        float distance = 150000.0f;
        EXPECT_EQ(m->intersect(down_from(0.0f, 0.0f, 20.0f), distance), 1);
        EXPECT_FLOAT_EQ(distance, 15.0f);
        EXPECT_EQ(m->recorded_hit(), near_first ? 0 : 1);
    }
}

TEST(model, equal_distances_keep_the_lower_index) {
    auto m = make_model(std::string(square) + "f 1 2 3\n");
    float distance = 150000.0f;
    EXPECT_EQ(m->intersect(down_from(5.0f, -5.0f, 20.0f), distance), 1);
    EXPECT_FLOAT_EQ(distance, 20.0f);
    EXPECT_EQ(m->recorded_hit(), 0);
}

TEST(model, a_miss_leaves_distance_and_last_hit_alone) {
    auto m = make_model(square);
    float distance = 150000.0f;
    ASSERT_EQ(m->intersect(down_from(5.0f, -5.0f, 20.0f), distance), 1);
    const int first = m->recorded_hit();
    // Crosses the bounding sphere but meets only back faces.
    distance = 150000.0f;
    EXPECT_EQ(m->intersect(ray{{1.0f, 1.0f, -20.0f}, {0.0f, 0.0f, 1.0f}}, distance), 0);
    EXPECT_EQ(distance, 150000.0f);
    // Misses the sphere altogether.
    EXPECT_EQ(m->intersect(down_from(40.0f, 0.0f, 20.0f), distance), 0);
    EXPECT_EQ(distance, 150000.0f);
    // Hits, but not nearer than the caller's distance.
    distance = 19.0f;
    EXPECT_EQ(m->intersect(down_from(5.0f, -5.0f, 20.0f), distance), 0);
    EXPECT_EQ(distance, 19.0f);
    EXPECT_EQ(m->recorded_hit(), first);
    // A later hit, as a shadow ray's would, replaces the recorded triangle.
    distance = 150000.0f;
    ASSERT_EQ(m->intersect(down_from(-5.0f, 5.0f, 20.0f), distance), 1);
    EXPECT_EQ(m->recorded_hit(), 1);
    EXPECT_EQ(m->get_normal(vector3{}), (vector3{0.0f, 0.0f, 1.0f}));
}

TEST(model, the_gate_skips_what_lies_outside_the_sphere) {
    // Shrink the sphere so the square's corners stick out: a ray through a
    // corner then never reaches the triangles, though the scan would hit.
    auto m = make_model(square);
    m->bounds->radius = 5.0f;
    const ray r = down_from(9.0f, -9.0f, 20.0f);
    float distance = 150000.0f;
    EXPECT_FALSE(m->may_hit(r, distance));
    EXPECT_EQ(m->intersect(r, distance), 0);
    int hit = -1;
    EXPECT_EQ(linear_reference(*m->geometry).intersect(r, distance, hit), 1);
    // A caller already holding a hit nearer than the sphere skips it too.
    EXPECT_FALSE(m->may_hit(down_from(0.0f, 0.0f, 20.0f), 14.0f));
    EXPECT_TRUE(m->may_hit(down_from(0.0f, 0.0f, 20.0f), 16.0f));
}

TEST(model, the_gate_never_skips_a_reachable_triangle) {
    auto m = make_model(square);
    sphere plain;   // the same sphere tested on its own, for contrast
    plain.centre = m->bounds->centre;
    plain.radius = m->bounds->radius;

    // From inside the sphere, a short ray (as a shadow ray is) whose bound
    // ends before the sphere's far crossing: the sphere alone says no.
    const ray inside = down_from(1.0f, -1.0f, 5.0f);
    float bound = 6.0f;
    EXPECT_EQ(plain.intersect(inside, bound), 0);
    EXPECT_EQ(m->intersect(inside, bound), 1);
    EXPECT_FLOAT_EQ(bound, 5.0f);

    // From just outside, entering the sphere less than 0.1 ahead: the
    // sphere skips its entry and its exit lies beyond the bound.
    const vector3 origin{10.02f, 10.02f, 0.02f};
    const ray grazing{origin, normalize(vector3{9.95f, 9.9f, 0.0f} - origin)};
    ASSERT_GT(std::sqrt(dot(origin, origin)), m->bounds->radius);
    bound = 1.0f;
    EXPECT_EQ(plain.intersect(grazing, bound), 0);
    EXPECT_EQ(m->intersect(grazing, bound), 1);
    EXPECT_LT(bound, 0.2f);
}

TEST(model, a_mesh_without_faces_never_hits) {
    for (const char* text : {"", "v 0 0 0\nv 0.001 0 0\nv 0 0.001 0\n"}) {
        auto m = make_model(text);
        EXPECT_EQ(m->triangle_count, 0);
        for (const ray& r : {down_from(0.0f, 0.0f, 20.0f), down_from(0.0f, 0.0f, 0.5f)}) {
            float distance = 150000.0f;
            EXPECT_EQ(m->intersect(r, distance), 0);
            EXPECT_EQ(distance, 150000.0f);
        }
        EXPECT_EQ(m->recorded_hit(), -1);
    }
}
