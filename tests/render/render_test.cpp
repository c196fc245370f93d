// render/render.cpp: the primary rays of a row, the progress dots, the tone
// map, a picture whose values are known in closed form, the same picture
// and output on any number of threads, and tracing without allocating.

#include "render/render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "app/image.h"
#include "mesh/obj/load_obj.h"
#include "render/camera.h"
#include "scene/model.h"
#include "scene/plane.h"
#include "scene/sphere.h"
#include "util/worker.h"
#include "tests/support/bunny_scene.h"
#include "tests/support/current_scene.h"
#include "tests/support/described_camera.h"
#include "tests/support/expect_vector.h"
#include "tests/support/test_scene.h"

// ---- primary rays of a row ----------------------------------------------------

TEST(camera_rays, corner_pixels_start_at_the_eye_with_their_directions) {
    const camera cam = setup_camera();
    stub_surface seen;
    test_scene s({make_recorder(seen)});

    float row_buffer[image_width * 3];
    row_workspace space(image_width);
    render_row(s.get(), cam, 1, 0, 0, image_width, space, row_buffer);
    EXPECT_EQ(seen.calls, 800);
    EXPECT_EQ(seen.first.origin, cam.eye);
    EXPECT_VECTOR_EQ(seen.first.direction, 0.96890742f, 0.14738348f, 0.19873692f);

    render_row(s.get(), cam, 1, 599, 0, image_width, space, row_buffer);
    EXPECT_EQ(seen.last.origin, cam.eye);
    EXPECT_VECTOR_EQ(seen.last.direction, 0.78910738f, -0.37703556f, -0.48492658f);
}

// ---- progress dots --------------------------------------------------------------

TEST(progress, eighty_four_dots_at_their_places) {
    std::vector<std::pair<int, int>> dots;
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 800; ++x)
            if (progress_dot_before(x, y)) dots.emplace_back(x, y);
    ASSERT_EQ(dots.size(), 84u);
    using dot_list = std::vector<std::pair<int, int>>;
    const dot_list first{{750, 64}, {640, 75}, {600, 80}, {500, 96}, {480, 100}};
    EXPECT_EQ(dot_list(dots.begin(), dots.begin() + 5), first);
    EXPECT_EQ(dots.back(), (std::pair<int, int>{750, 576}));
    // 48000 divides 0, but the first row and column never get a dot.
    EXPECT_FALSE(progress_dot_before(0, 300));
    EXPECT_FALSE(progress_dot_before(400, 0));
}

// ---- tone map ------------------------------------------------------------------

TEST(tone_map, exponential_scale_clamped_from_above_only) {
    // 1 - e^-c is rounded to float before the scaling by 255.
    EXPECT_EQ(tone_map(0.0f), 0.0f);
    EXPECT_EQ(tone_map(0.5f), 100.33468f);
    EXPECT_EQ(tone_map(1.0f), 161.19073f);
    EXPECT_EQ(tone_map(2.0f), 220.4895f);
    EXPECT_EQ(tone_map(10.0f), 254.98842f);
    EXPECT_EQ(tone_map(100.0f), 255.0f);
    EXPECT_EQ(tone_map(-0.25f), -72.426483f);
    EXPECT_EQ(tone_map(std::numeric_limits<float>::quiet_NaN()), 255.0f);
    EXPECT_EQ(tone_map(std::numeric_limits<float>::infinity()), 255.0f);
}

// ---- a picture of known values ---------------------------------------------------

namespace {

// Raw layout, written out rather than taken from image_index: column-major.
const float* raw_pixel(int x, int y) { return &image[(x * 600 + y) * 3]; }

// Records the primary ray of one pixel of a row.
class ray_catcher : public stub_surface {
public:
    int wanted = 0;
    ray caught{};
    int intersect(const ray& r, float& distance) override {
        if (calls == wanted) caught = r;
        return stub_surface::intersect(r, distance);
    }
};

// A sphere centred on the primary ray of pixel (x, y) as the renderer casts
// it, `distance` units from the eye. The sample point drifts by a few
// hundredths over a row of rounded steps, so aiming by the ideal
// screen position would miss the centre by about two units.
void centre_on_pixel(sphere& s, const camera& cam, int x, int y, float distance, float radius) {
    ray_catcher catcher;
    catcher.solid = false;
    catcher.wanted = x;
    test_scene only({&catcher});
    float row_buffer[image_width * 3];
    row_workspace space(image_width);
    render_row(only.get(), cam, 1, y, 0, image_width, space, row_buffer);
    s.centre = catcher.caught.origin + catcher.caught.direction * distance;
    s.radius = radius;
}

}  // namespace

TEST(render_image, lit_sphere_has_its_closed_form_value_on_a_black_background) {
    const camera cam = setup_camera();

    // Light at the eye: at the point facing the camera N·L = 1, so the
    // channel is light times colour, tone-mapped: 255·(1 - e^-c).
    sphere centre;
    centre_on_pixel(centre, cam, 400, 300, 1000.0f, 100.0f);
    centre.color = {0.5f, 1.0f, 0.25f};
    // A second, off-axis sphere in the upper left quarter of the view.
    sphere upper_left;
    centre_on_pixel(upper_left, cam, 200, 150, 1000.0f, 50.0f);
    upper_left.color = {1.0f, 1.0f, 1.0f};
    light lamp{{1.0f, 2.0f, 1.0f}, cam.eye};
    test_scene s({&centre, &upper_left}, {&lamp});

    testing::internal::CaptureStdout();
    {
        current_scene_guard current(s.get());
        render();
    }
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(out, "spawning rays" + std::string(84, '.') + "done \n");

    const float* p = raw_pixel(400, 300);
    EXPECT_FLOAT_EQ(p[0], 100.33468f);   // 255·(1 - e^-0.5)
    EXPECT_FLOAT_EQ(p[1], 220.4895f);    // 255·(1 - e^-2)
    EXPECT_FLOAT_EQ(p[2], 56.405800f);   // 255·(1 - e^-0.25)

    // Row 0 is the top, column 0 the left: only the upper left sphere shows.
    EXPECT_GT(raw_pixel(200, 150)[0], 100.0f);
    for (auto xy : {std::pair<int, int>{600, 150}, {200, 450}, {600, 450}}) {
        const float* q = raw_pixel(xy.first, xy.second);
        EXPECT_EQ(q[0], 0.0f) << xy.first << "," << xy.second;
    }

    // Everything off the two spheres stays black.
    for (auto xy : {std::pair<int, int>{0, 0}, {799, 0}, {0, 599}, {799, 599}, {400, 10}, {400, 590}}) {
        const float* q = raw_pixel(xy.first, xy.second);
        EXPECT_EQ(q[0], 0.0f);
        EXPECT_EQ(q[1], 0.0f);
        EXPECT_EQ(q[2], 0.0f);
    }
}

// ---- threads ---------------------------------------------------------------------
// Rendering on many threads must give the picture and the output of one.

TEST(parallel_render, same_picture_and_reports_on_any_thread_count) {
    bunny_scene world;
    const camera cam = setup_camera();

    // Reports as the calling thread makes them: the rows done from the top
    // only ever grow, and the last report has them all.
    auto check_reports = [](const std::vector<render_progress>& reports, int threads) {
        ASSERT_FALSE(reports.empty());
        for (std::size_t k = 1; k < reports.size(); ++k)
            EXPECT_LE(reports[k - 1].ordered, reports[k].ordered) << threads << " threads";
        for (const render_progress& p : reports) {
            EXPECT_LE(p.ordered, p.finished);
            EXPECT_EQ(p.total, 600);
        }
        EXPECT_EQ(reports.back().ordered, 600) << threads << " threads";
        EXPECT_EQ(reports.back().finished, 600) << threads << " threads";
    };

    std::vector<render_progress> reports;
    auto record = [&](const render_progress& p) { reports.push_back(p); };
    render_picture(&world.s, cam, 1, 1, picture_by_columns(image, cam), record);
    const std::vector<float> one = picture();
    check_reports(reports, 1);

    for (int threads : {2, 3, 8}) {
        std::fill(image, image + image_width * image_height * 3, -1.0f);
        reports.clear();
        render_picture(&world.s, cam, 1, threads, picture_by_columns(image, cam), record);
        EXPECT_EQ(std::memcmp(one.data(), image, one.size() * sizeof(float)), 0) << threads << " threads";
        check_reports(reports, threads);
    }
    EXPECT_EQ(util::current_worker, 0);
}

TEST(parallel_render, render_prints_what_one_thread_prints) {
    bunny_scene world;
    testing::internal::CaptureStdout();
    {
        current_scene_guard current(&world.s);
        render();
    }
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "spawning rays" + std::string(84, '.') + "done \n");
}

// ---- samples, sizes and tiles ----------------------------------------------------

namespace {

// Sees every ray of a scene, in order, and blocks none.
class ray_log : public object {
public:
    std::vector<ray> rays;
    int get_type() const override { return 0; }
    int intersect(const ray& r, float&) override {
        rays.push_back(r);
        return hit_none;
    }
    vector3 get_normal(const vector3&) const override { return {}; }
};

}  // namespace

TEST(samples, fall_on_a_grid_centred_on_the_pixels_sample_point) {
    // Sample (i, j) of n at x + (i + 1/2)/n - 1/2 columns and y + (j + 1/2)/n
    // - 1/2 rows, rows outer: aimed here with the described camera. The
    // screen's corner and the eye are floats near 3000: every ray may be
    // 3e-5 radians off, 3e-6 for these (camera_test.cpp); the stepping of
    // the 800 x 600 picture adds its own. A quarter of a pixel of the
    // 1200-wide picture is 1.4e-4 radians.
    struct sample_case {
        int width, height, samples, x, y;
        double tolerance;
    };
    for (const sample_case c : {sample_case{40, 30, 2, 10, 7, 1e-5}, sample_case{40, 30, 3, 39, 29, 1e-5},
                                sample_case{1200, 900, 4, 1100, 3, 1e-5}, sample_case{800, 600, 2, 0, 0, 4e-5},
                                sample_case{800, 600, 3, 0, 599, 4e-5}}) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + ", " + std::to_string(c.samples) +
                     " samples, pixel " + std::to_string(c.x) + ", " + std::to_string(c.y));
        camera_view view;
        view.width = c.width;
        view.height = c.height;
        const camera cam = setup_camera(view);
        ray_log log;
        test_scene s({&log});
        row_workspace space(c.width);
        std::vector<float> row(3 * static_cast<std::size_t>(c.width));
        render_row(s.get(), cam, c.samples, c.y, c.x, c.x + 1, space, row.data());
        ASSERT_EQ(log.rays.size(), static_cast<std::size_t>(c.samples * c.samples));

        const double half_width = 1.5 * c.width / c.height;
        for (int j = 0; j < c.samples; ++j) {
            for (int i = 0; i < c.samples; ++i) {
                const double column = c.x + (i + 0.5) / c.samples - 0.5;
                const double line = c.y + (j + 0.5) / c.samples - 0.5;
                const described::vec expected =
                    described::direction_through(-half_width + 2.0 * half_width * column / c.width, 1.5 - 3.0 * line / c.height);
                const vector3 d = log.rays[static_cast<std::size_t>(j * c.samples + i)].direction;
                EXPECT_LT(described::angle_between({d.x, d.y, d.z}, expected), c.tolerance) << "sample " << i << ", " << j;
            }
        }
    }
}

TEST(samples, same_picture_on_any_thread_count_and_in_any_tile) {
    bunny_scene world;
    struct picture_case {
        int width, height, samples;
    };
    for (const picture_case c : {picture_case{800, 600, 1}, picture_case{200, 150, 3}}) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + ", " + std::to_string(c.samples) +
                     " samples");
        camera_view view;
        view.width = c.width;
        view.height = c.height;
        const camera cam = setup_camera(view);
        std::vector<float> whole(3 * static_cast<std::size_t>(c.width) * c.height, -1.0f);
        render_picture(&world.s, cam, c.samples, 1, picture_by_rows(whole.data(), cam));
        // The bunny shows: the picture is not all black.
        EXPECT_GT(*std::max_element(whole.begin(), whole.end()), 100.0f);

        for (int threads : {2, 5}) {
            std::vector<float> again(whole.size(), -1.0f);
            render_picture(&world.s, cam, c.samples, threads, picture_by_rows(again.data(), cam));
            EXPECT_EQ(again, whole) << threads << " threads";
        }

        // A tile stored by column in a buffer of its own, off every edge.
        picture_target tile;
        tile.x0 = c.width / 5;
        tile.x1 = c.width * 3 / 5 + 1;
        tile.y0 = c.height / 4;
        tile.y1 = c.height * 3 / 4;
        const int tile_height = tile.y1 - tile.y0;
        std::vector<float> part(3 * static_cast<std::size_t>(tile.x1 - tile.x0) * tile_height, -1.0f);
        tile.pixels = part.data();
        tile.column_stride = 3 * static_cast<std::size_t>(tile_height);
        tile.row_stride = 3;
        render_picture(&world.s, cam, c.samples, 2, tile);
        int differ = 0;
        for (int y = tile.y0; y < tile.y1; ++y)
            for (int x = tile.x0; x < tile.x1; ++x)
                for (int k = 0; k < 3; ++k)
                    differ += part[static_cast<std::size_t>(((x - tile.x0) * tile_height + (y - tile.y0)) * 3 + k)] !=
                              whole[(static_cast<std::size_t>(y) * c.width + x) * 3 + static_cast<std::size_t>(k)];
        EXPECT_EQ(differ, 0);
    }
}

// ---- no allocation ---------------------------------------------------------------
// The pixel loop and the tracer allocate nothing: every global operator new
// of this test binary is counted, and rendering rows of a scene with every
// kind of object (a mesh model, mirrors, refraction) must not move the count.

namespace {
std::atomic<long> allocations{0};

// Out of line, so that the compiler does not pair a free() it can see with
// the operator new it came from.
[[gnu::noinline]] void release(void* p) noexcept { std::free(p); }
}  // namespace

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }

TEST(render_allocation, tracing_rows_of_every_kind_of_object_allocates_nothing) {
    // A small closed mesh (a tetrahedron) in front of the camera.
    const char obj[] =
        "v -0.60 0.040 0.0\nv -0.55 0.040 0.05\nv -0.55 0.040 -0.05\nv -0.57 0.090 0.0\n"
        "f 1 3 2\nf 1 2 4\nf 2 3 4\nf 3 1 4\n";
    mesh* loaded = new mesh;
    std::string error;
    ASSERT_TRUE(parse_obj(obj, std::strlen(obj), "tetrahedron.obj", loaded, &error)) << error;
    model bunny{owned_mesh(loaded)};
    bunny.color = {0.0f, 1.0f, 1.0f};
    bunny.specular = {0.7f, 0.7f, 0.7f};
    bunny.specular_power = 70.0f;

    plane floor;
    floor.normal = {0.0f, 1.0f, 0.0f};
    floor.offset = 170.0f;
    floor.color = {0.05f, 0.02f, 0.65f};
    floor.reflection = 0.6f;

    sphere glass;
    glass.centre = {-2000.0f, 400.0f, 300.0f};
    glass.radius = 150.0f;
    glass.color = {0.2f, 0.2f, 0.2f};
    glass.refraction_index = 1.5f;

    light lamp{{0.94f, 0.94f, 0.737f}, {-2000.0f, 1500.0f, -3000.0f}};
    test_scene scene_under_test({&bunny, &floor, &glass}, {&lamp});

    const camera cam = setup_camera();
    row_workspace space(image_width);
    const long before = allocations.load();
    static float rows[image_height][image_width * 3];
    for (int y = 0; y < image_height; y += 7) render_row(scene_under_test.get(), cam, 1, y, 0, image_width, space, rows[y]);
    EXPECT_EQ(allocations.load() - before, 0);

    // The rows did see the objects: the count above is not from an empty picture.
    bool lit = false;
    for (int y = 0; y < image_height && !lit; y += 7)
        for (int x = 0; x < image_width && !lit; ++x) lit = rows[y][3 * x + 2] > 0.0f;
    EXPECT_TRUE(lit);
}
