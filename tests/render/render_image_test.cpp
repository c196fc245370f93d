#include "app/image.h"
#include "render/camera.h"
#include "render/render.h"
#include "scene/sphere.h"
#include "tests/support/test_scene.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>

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
    render_row(only.get(), cam, y, row_buffer);
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

    scene* const before = current_scene;
    current_scene = s.get();
    testing::internal::CaptureStdout();
    render();
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    current_scene = before;

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
