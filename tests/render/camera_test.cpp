#include "render/camera.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/expect_vector.h"

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
