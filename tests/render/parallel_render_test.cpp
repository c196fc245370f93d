
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/image.h"
#include "render/camera.h"
#include "render/render.h"
#include "scene/model.h"
#include "scene/scene.h"
#include "scene/worker.h"
#include "world/build_scene.h"
#include "tests/support/triangle_soup.h"

// Rendering on many threads must give the picture and the output of one,
// and the model's hierarchy must give, on the rays a real render casts,
// exactly what its linear scan gives.

namespace {

const std::string bunny_path = std::string(RT_SOURCE_DIR) + "/assets/bunny.obj";

// The built-in scene over the default bunny, its loading lines swallowed.
struct bunny_scene {
    scene s;
    bunny_scene() {
        scene* const before = current_scene;
        current_scene = &s;
        testing::internal::CaptureStdout();
        build_scene(bunny_path.c_str());
        testing::internal::GetCapturedStdout();
        current_scene = before;
    }
    ~bunny_scene() { destroy_scene(&s); }
    model& bunny() { return *static_cast<model*>(s.objects[0]); }
};

std::vector<float> picture() { return std::vector<float>(image, image + image_width * image_height * 3); }

// Sanitizer and unoptimised builds check memory and races, not coverage:
// there the linear scan runs on far fewer rows.
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
constexpr int default_row_stride = 30;
#else
constexpr int default_row_stride = 300;
#endif

// Every row with y % stride == stride / 2; RT_EXACT_ROW_STRIDE=1 checks all.
std::vector<int> sampled_rows() {
    int stride = default_row_stride;
    if (const char* env = std::getenv("RT_EXACT_ROW_STRIDE")) stride = std::max(1, std::atoi(env));
    std::vector<int> rows;
    for (int y = stride / 2; y < image_height; y += stride) rows.push_back(y);
    return rows;
}

// Renders `rows` of `s` on two threads, running as workers 0 and 1.
void render_some_rows(scene* s, const std::vector<int>& rows) {
    const camera cam = setup_camera();
    std::atomic<std::size_t> next{0};
    auto work = [&](int worker) {
        current_worker = worker;
        float row_buffer[image_width * 3];
        for (std::size_t k; (k = next.fetch_add(1)) < rows.size();) {
            render_row(s, cam, rows[k], row_buffer);
            for (int x = 0; x < image_width; ++x)
                for (int c = 0; c < 3; ++c) image[image_index(x, rows[k]) + static_cast<std::size_t>(c)] = row_buffer[3 * x + c];
        }
        current_worker = 0;
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
    int last[max_workers] = {};
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
        last[current_worker] = linear_hit;
        return linear_code;
    }

    vector3 get_normal(const vector3&) const override {
        return scan.triangles[static_cast<std::size_t>(last[current_worker])]->normal;
    }
};

}  // namespace

TEST(parallel_render, same_picture_and_dots_on_any_thread_count) {
    bunny_scene world;
    const camera cam = setup_camera();

    testing::internal::CaptureStdout();
    render_picture(&world.s, cam, 1, true, image);
    const std::string one_output = testing::internal::GetCapturedStdout();
    const std::vector<float> one = picture();
    EXPECT_EQ(one_output, std::string(84, '.'));

    for (int threads : {2, 3, 8}) {
        std::fill(image, image + image_width * image_height * 3, -1.0f);
        testing::internal::CaptureStdout();
        render_picture(&world.s, cam, threads, true, image);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), one_output) << threads << " threads";
        EXPECT_EQ(std::memcmp(one.data(), image, one.size() * sizeof(float)), 0) << threads << " threads";
    }
    EXPECT_EQ(current_worker, 0);
}

TEST(parallel_render, render_prints_what_one_thread_prints) {
    bunny_scene world;
    scene* const before = current_scene;
    current_scene = &world.s;
    testing::internal::CaptureStdout();
    render();
    const std::string out = testing::internal::GetCapturedStdout();
    current_scene = before;
    EXPECT_EQ(out, "spawning rays" + std::string(84, '.') + "done \n");
}

// Every query the model gets while sampled rows are rendered (primary,
// shadow and reflected rays alike) is answered by both paths; then the
// rows rendered with the reference stand-in and with the model itself must
// be the same bytes.
TEST(bvh_in_the_render, sampled_rows_match_the_linear_scan_query_by_query_and_byte_for_byte) {
    bunny_scene world;
    const std::vector<int> rows = sampled_rows();

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
