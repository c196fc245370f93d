#include "scene/model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/image.h"
#include "mesh/obj/load_obj.h"
#include "render/camera.h"
#include "render/render.h"
#include "util/worker.h"
#include "tests/support/bunny.h"
#include "tests/support/bunny_scene.h"
#include "tests/support/slow_build.h"
#include "tests/support/triangle_soup.h"

namespace {

// A model over OBJ text; coordinates in the text are scene units / 5000.
std::unique_ptr<model> make_model(const std::string& text) {
    mesh* m = new mesh;
    std::string error;
    EXPECT_TRUE(parse_obj(text.data(), text.size(), "t.obj", m, &error)) << error;
    return std::make_unique<model>(owned_mesh(m));
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
    model bunny(owned_mesh(new mesh(parse_bunny())));
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

// Meshes across the origin, their centroid off the middle of their box:
// the farthest corner is on the side of the box away from the centroid,
// whichever sign its coordinates have.
TEST(model, bounds_hold_every_vertex_of_meshes_across_the_origin) {
    for (const char* text : {"v -0.003 0 0\nv 0.002 0.001 0\nv 0.002 -0.001 0\nf 1 2 3\n",
                             "v 0 0.003 0\nv 0.001 -0.002 0\nv -0.001 -0.002 0.0005\nf 1 2 3\n",
                             "v 0 0 -0.004\nv 0.001 0 0.001\nv 0 0.001 0.001\nf 1 2 3\n"}) {
        auto m = make_model(text);
        const mesh& g = *m->geometry;
        for (int i = 0; i < g.vertex_count; ++i) {
            const double d[3] = {static_cast<double>(g.vertices[i].x) - m->bounds->centre.x,
                                 static_cast<double>(g.vertices[i].y) - m->bounds->centre.y,
                                 static_cast<double>(g.vertices[i].z) - m->bounds->centre.z};
            EXPECT_LT(std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]), m->bounds->radius) << text << " vertex " << i;
        }
    }
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

// ---- one last hit per worker ---------------------------------------------------
// The model remembers its latest hit once per worker: threads tracing the
// same model at once must each get the normal of their own hit.

namespace {

// Two triangles at z = 0: one facing +z, one (wound the other way, shifted
// in x) facing -z, so their normals tell them apart.
std::unique_ptr<model> two_facing_triangles() {
    return make_model(
        "v -0.002 -0.002 0\nv 0.002 -0.002 0\nv 0 0.002 0\n"
        "v 0.006 -0.002 0\nv 0.01 -0.002 0\nv 0.008 0.002 0\n"
        "f 1 2 3\nf 4 6 5\n");
}

const ray from_above{{0.0f, 0.0f, 20.0f}, {0.0f, 0.0f, -1.0f}};   // meets triangle 0
const ray from_below{{40.0f, 0.0f, -20.0f}, {0.0f, 0.0f, 1.0f}};  // meets triangle 1

// Restores the main thread's worker number however a test ends.
struct as_worker {
    explicit as_worker(int w) { util::current_worker = w; }
    ~as_worker() { util::current_worker = 0; }
};

}  // namespace

TEST(model_workers, each_worker_keeps_its_own_last_hit) {
    auto m = two_facing_triangles();
    {
        as_worker one(1);
        float distance = 150000.0f;
        ASSERT_EQ(m->intersect(from_below, distance), 1);
        EXPECT_EQ(m->recorded_hit(), 1);
    }
    EXPECT_EQ(m->recorded_hit(), -1);  // worker 0 has hit nothing yet
    float distance = 150000.0f;
    ASSERT_EQ(m->intersect(from_above, distance), 1);
    EXPECT_EQ(m->get_normal({}), (vector3{0.0f, 0.0f, 1.0f}));

    as_worker one(1);
    EXPECT_EQ(m->recorded_hit(), 1);
    EXPECT_EQ(m->get_normal({}), (vector3{0.0f, 0.0f, -1.0f}));
}

// Workers hammer one model at the same time, each checking that the normal
// it gets back belongs to its own latest hit. Under ThreadSanitizer this is
// also the check that they share no memory.
TEST(model_workers, concurrent_workers_never_see_each_others_hits) {
    auto m = two_facing_triangles();
    constexpr int workers = 4;
    std::vector<int> wrong(workers, 0);
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            util::current_worker = w + 1;
            for (int k = 0; k < 20000; ++k) {
                const bool above = (k + w) % 2 == 0;
                float distance = 150000.0f;
                if (m->intersect(above ? from_above : from_below, distance) != 1) ++wrong[w];
                if (!(m->get_normal({}) == vector3{0.0f, 0.0f, above ? 1.0f : -1.0f})) ++wrong[w];
            }
        });
    }
    for (std::thread& t : threads) t.join();
    for (int w = 0; w < workers; ++w) EXPECT_EQ(wrong[w], 0) << "worker " << w + 1;
}

// ---- the hierarchy on a real render's rays ---------------------------------------
// On the rays a real render casts, the model's hierarchy must give exactly
// what its linear scan gives.

namespace {

constexpr int default_row_stride = slow_build ? 300 : 30;

// Every row with y % stride == stride / 2, dealt out in turn to `shares`
// checks, this one `share`; RT_EXACT_ROW_STRIDE=1 checks all.
std::vector<int> sampled_rows(int share, int shares) {
    int stride = default_row_stride;
    if (const char* env = std::getenv("RT_EXACT_ROW_STRIDE")) stride = std::max(1, std::atoi(env));
    std::vector<int> rows;
    for (int y = stride / 2 + share * stride; y < image_height; y += shares * stride) rows.push_back(y);
    return rows;
}

// Renders `rows` of `s` on two threads, running as workers 0 and 1.
void render_some_rows(scene* s, const std::vector<int>& rows) {
    const camera cam = setup_camera();
    std::atomic<std::size_t> next{0};
    auto work = [&](int worker) {
        util::current_worker = worker;
        float row_buffer[image_width * 3];
        row_workspace space(image_width);
        for (std::size_t k; (k = next.fetch_add(1)) < rows.size();) {
            render_row(s, cam, 1, rows[k], 0, image_width, space, row_buffer);
            for (int x = 0; x < image_width; ++x)
                for (int c = 0; c < 3; ++c) image[image_index(x, rows[k]) + static_cast<std::size_t>(c)] = row_buffer[3 * x + c];
        }
        util::current_worker = 0;
    };
    std::thread helper(work, 1);
    work(0);
    helper.join();
}

// Stands in for the model in the scene and answers every query with the
// linear scan over the model's triangles, so the picture it yields is the
// reference. On each query it also asks the model itself (gate and
// hierarchy) and counts every answer that differs in code, distance bits,
// triangle or normal.
class scan_stand_in : public object {
public:
    model& m;
    linear_reference scan;
    int last[util::max_workers] = {};
    std::atomic<long> queries{0};
    std::atomic<long> hits{0};
    std::atomic<long> differences{0};

    explicit scan_stand_in(model& wrapped) : m(wrapped), scan(*wrapped.geometry) {
        color = m.color;
        specular = m.specular;
        reflection = m.reflection;
        specular_power = m.specular_power;
        refraction_index = m.refraction_index;
    }

    int get_type() const override { return 0; }

    int intersect(const ray& r, float& distance) override {
        float linear_distance = distance;
        int linear_hit = -1;
        const int linear_code = scan.intersect(r, linear_distance, linear_hit);

        float tree_distance = distance;
        const int before = m.recorded_hit();
        const int tree_code = m.intersect(r, tree_distance);
        const int tree_hit = tree_code != hit_none ? m.recorded_hit() : -1;
        if (tree_code == hit_none && m.recorded_hit() != before) ++differences;

        ++queries;
        if (linear_code != tree_code || std::memcmp(&linear_distance, &tree_distance, sizeof(float)) != 0 ||
            linear_hit != tree_hit ||
            (tree_code != hit_none && !(m.get_normal({}) == scan.triangles[static_cast<std::size_t>(tree_hit)]->normal)))
            ++differences;
        if (linear_code == hit_none) return hit_none;
        ++hits;
        distance = linear_distance;
        last[util::current_worker] = linear_hit;
        return linear_code;
    }

    vector3 get_normal(const vector3&) const override {
        return scan.triangles[static_cast<std::size_t>(last[util::current_worker])]->normal;
    }
};

}  // namespace

// Every query the model gets while sampled rows are rendered (primary,
// shadow and reflected rays alike) is answered by both paths; then the
// rows rendered with the reference stand-in and with the model itself must
// be the same bytes. Both trees: the program builds either, as the
// pictures to render call for; each checks every other sampled row.
class bvh_in_the_render : public ::testing::TestWithParam<bvh_method> {};
INSTANTIATE_TEST_SUITE_P(builders, bvh_in_the_render, ::testing::Values(bvh_method::surface_area, bvh_method::morton),
                         [](const ::testing::TestParamInfo<bvh_method>& info) {
                             return std::string(info.param == bvh_method::morton ? "morton" : "surface_area");
                         });

TEST_P(bvh_in_the_render, sampled_rows_match_the_linear_scan_query_by_query_and_byte_for_byte) {
    bunny_scene world(GetParam());
    ASSERT_EQ(world.bunny().hierarchy.compact(), GetParam() == bvh_method::morton);
    const std::vector<int> rows = sampled_rows(GetParam() == bvh_method::morton ? 1 : 0, 2);

    scan_stand_in reference(world.bunny());
    object* const real_model = world.s.objects[0];
    world.s.objects[0] = &reference;
    render_some_rows(&world.s, rows);
    world.s.objects[0] = real_model;
    const std::vector<float> linear_picture = picture();

    EXPECT_EQ(reference.differences.load(), 0) << "of " << reference.queries.load() << " queries";
    EXPECT_GT(reference.hits.load(), 100 * static_cast<long>(rows.size()));
    std::printf("%ld model queries on %zu rows, %ld hits, all answered alike\n", reference.queries.load(),
                rows.size(), reference.hits.load());

    std::fill(image, image + image_width * image_height * 3, -1.0f);
    render_some_rows(&world.s, rows);
    for (int y : rows) {
        for (int x = 0; x < image_width; ++x) {
            ASSERT_EQ(std::memcmp(&linear_picture[image_index(x, y)], &image[image_index(x, y)], 3 * sizeof(float)), 0)
                << "pixel " << x << ", " << y;
        }
    }
}
