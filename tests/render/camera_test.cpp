#include "render/camera.h"
#include "render/matrix3x4.h"
#include "app/image.h"
#include "render/render.h"
#include "tests/support/expect_vector.h"
#include "tests/support/test_scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>
#include <vector>

// The camera's values are given to eight digits, enough to name each float
// exactly; a different order of rounding is off by an ulp or two.

// ---- invert_rigid -------------------------------------------------------------

TEST(invert_rigid, pure_translation_is_negated) {
    matrix3x4 m{{{1, 0, 0, 5}, {0, 1, 0, -2}, {0, 0, 1, 3}}};
    invert_rigid(m);
    const float expected[3][4] = {{1, 0, 0, -5}, {0, 1, 0, 2}, {0, 0, 1, -3}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_EQ(m.m[i][j], expected[i][j]) << i << "," << j;
}

TEST(invert_rigid, rotation_is_transposed_and_translation_rotated_back) {
    matrix3x4 m{{{0, -1, 0, 1}, {1, 0, 0, 0}, {0, 0, 1, 0}}};
    invert_rigid(m);
    const float expected[3][4] = {{0, 1, 0, 0}, {-1, 0, 0, 1}, {0, 0, 1, 0}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_EQ(m.m[i][j], expected[i][j]) << i << "," << j;
}

// ---- camera set-up -----------------------------------------------------------

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

// ---- primary rays of a row ----------------------------------------------------

TEST(camera_rays, corner_pixels_start_at_the_eye_with_their_directions) {
    const camera cam = setup_camera();
    stub_surface seen;
    test_scene s({make_recorder(seen)});

    float row_buffer[image_width * 3];
    render_row(s.get(), cam, 0, row_buffer);
    EXPECT_EQ(seen.calls, 800);
    EXPECT_EQ(seen.first.origin, cam.eye);
    EXPECT_VECTOR_EQ(seen.first.direction, 0.96890742f, 0.14738348f, 0.19873692f);

    render_row(s.get(), cam, 599, row_buffer);
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
