#include "math/vector3.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(normalize, zero_vector_stays_zero_without_nan) {
    const vector3 n = normalize({0.0f, 0.0f, 0.0f});
    EXPECT_EQ(n.x, 0.0f);
    EXPECT_EQ(n.y, 0.0f);
    EXPECT_EQ(n.z, 0.0f);
}

TEST(normalize, uses_one_reciprocal_and_three_products) {
    // (3, 4, 0): length 5, reciprocal 0.2f, so 3 * 0.2f rounds to 0.6f but
    // 3 / 5 would too; the (3000, -400, -500) view vector tells the two apart.
    const vector3 v{3000.0f, -400.0f, -500.0f};
    const vector3 f = normalize(v);
    const float inverse = 1.0f / std::sqrt(9410000.0f);
    EXPECT_EQ(f.x, 3000.0f * inverse);
    EXPECT_EQ(f.y, -400.0f * inverse);
    EXPECT_EQ(f.z, -500.0f * inverse);
    EXPECT_FLOAT_EQ(f.x, 0.97797209f);
    EXPECT_FLOAT_EQ(f.y, -0.13039628f);
    EXPECT_FLOAT_EQ(f.z, -0.16299535f);
}

TEST(normalize, tiny_and_huge_vectors_come_out_unit_length) {
    for (float s : {1e-18f, 1.0f, 1e18f}) {
        const vector3 n = normalize({s, 2.0f * s, -2.0f * s});
        EXPECT_NEAR(std::sqrt(dot(n, n)), 1.0f, 1e-6f) << s;
    }
}
