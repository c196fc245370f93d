#include "render/camera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "render/render.h"
#include "tests/support/described_camera.h"
#include "tests/support/expect_vector.h"
#include "tests/support/test_scene.h"

// The camera's values are given to eight digits, enough to name each float
// exactly; a different order of rounding is off by an ulp or two.

TEST(camera_setup, eye_corner_and_steps_of_the_fixed_view) {
    const camera cam = setup_camera();
    EXPECT_VECTOR_EQ(cam.eye, -3004.8899f, 800.65198f, 500.81497f);
    EXPECT_VECTOR_EQ(cam.top_left, -2999.4827f, 801.47449f, 501.92407f);
    EXPECT_VECTOR_EQ(cam.column_step, -0.00081512448f, 0.0f, -0.0048898696f);
    EXPECT_VECTOR_EQ(cam.row_step, -0.00063761394f, -0.004914958f, 0.00010625204f);
}

TEST(camera_setup, screen_is_not_normalised_to_unit_axes) {
    // The right and up axes have length 0.991462, so the screen is
    // 3.965848 x 2.974386 world units.
    const camera cam = setup_camera();
    const vector3 width = cam.column_step * 800.0f;
    const vector3 height = cam.row_step * 600.0f;
    // 800 rounded steps carry a little error; unit axes would give 4 x 3.
    EXPECT_NEAR(std::sqrt(dot(width, width)), 3.965848f, 1e-4f);
    EXPECT_NEAR(std::sqrt(dot(height, height)), 2.974386f, 1e-4f);
}

// ---- pictures of any size ----------------------------------------------------
// The same camera at every size: the centre pixel looks along F, and the
// screen reaches 1.5 local units (1.5·0.991462 world units) above its
// centre and 1.5·W/H across, 5 units from the eye; so the vertical field
// of view stays, whatever the width. Rays are taken one pixel at a time.
// The screen's corner and the eye are floats near 3000, rounded by up to
// 1.2e-4 units 5 units from each other: the whole picture may sit 3e-5
// radians off the described axis, but the angles within it are exact to
// far better than the 1e-5 checked (a pixel of the largest is 4.6e-5).

namespace {

described::vec primary_ray_of(const camera& cam, int x, int y) {
    stub_surface seen;
    test_scene s({make_recorder(seen)});
    row_workspace space(1);
    float pixel[3];
    render_row(s.get(), cam, 1, y, x, x + 1, space, pixel);
    const vector3 d = seen.first.direction;
    return {d.x, d.y, d.z};
}

}  // namespace

TEST(camera_sizes, every_size_keeps_the_place_and_the_vertical_field_of_view) {
    using namespace described;
    const double tan_up = 1.5 * axis_length / 5.0;
    struct size {
        int width, height;
    };
    for (const size c : {size{1200, 900}, size{1600, 1200}, size{400, 600}, size{1024, 256}, size{2, 2},
                         size{16384, 12288}, size{16384, 4096}, size{300, 16384}}) {
        camera_view view;
        view.width = c.width;
        view.height = c.height;
        const camera cam = setup_camera(view);
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        EXPECT_FALSE(cam.stepped);
        EXPECT_EQ(cam.width, c.width);
        EXPECT_EQ(cam.height, c.height);

        const vec centre = primary_ray_of(cam, c.width / 2, c.height / 2);
        EXPECT_LT(angle_between(centre, forward), 4e-5);
        // Top centre: straight above the centre, at the same angle for every size.
        const vec top = primary_ray_of(cam, c.width / 2, 0);
        EXPECT_NEAR(angle_between(top, centre), std::atan(tan_up), 1e-5);
        EXPECT_NEAR(dot(top - centre, right), 0.0, 1e-5);
        // Left middle: straight beside it, as far as the width says.
        const vec left = primary_ray_of(cam, 0, c.height / 2);
        EXPECT_NEAR(angle_between(left, centre), std::atan(tan_up * c.width / c.height), 1e-5);
        EXPECT_NEAR(dot(left - centre, up), 0.0, 1e-5);
    }
}
