#include "render/matrix3x4.h"

#include <gtest/gtest.h>

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
