#include "math/vector3.h"

#include <gtest/gtest.h>

#include <cfloat>
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

TEST(normalize, vectors_whose_squared_length_is_not_a_normal_float_keep_their_direction) {
    // Beyond about 1.8e19 the squared length overflows, below about 1.1e-19
    // it is no normal float; a 1e6 m triangle scaled by 5000 has a normal of
    // about 1e20. Each keeps the direction of `expected`.
    const struct {
        vector3 v;
        vector3 expected;
    } cases[] = {
        {{2e20f, 0.0f, 0.0f}, {1.0f, 0.0f, 0.0f}},
        {{0.0f, -3e38f, 2e38f}, {0.0f, -0.83205029f, 0.5547002f}},
        {{1e20f, 1e20f, 1e20f}, {0.57735026f, 0.57735026f, 0.57735026f}},
        {{FLT_MAX, FLT_MAX, -FLT_MAX}, {0.57735026f, 0.57735026f, -0.57735026f}},
        {{3e-25f, -4e-25f, 0.0f}, {0.6f, -0.8f, 0.0f}},
        {{0.0f, 0.0f, -1e-45f}, {0.0f, 0.0f, -1.0f}},
        {{1e-20f, 0.0f, 0.0f}, {1.0f, 0.0f, 0.0f}},
    };
    for (const auto& c : cases) {
        const vector3 n = normalize(c.v);
        EXPECT_NEAR(n.x, c.expected.x, 1e-6f) << c.v.x << " " << c.v.y << " " << c.v.z;
        EXPECT_NEAR(n.y, c.expected.y, 1e-6f) << c.v.x << " " << c.v.y << " " << c.v.z;
        EXPECT_NEAR(n.z, c.expected.z, 1e-6f) << c.v.x << " " << c.v.y << " " << c.v.z;
    }
    // Scaling by a power of two is exact: the huge vector comes out with
    // the very bits of its scaled-down copy.
    const vector3 huge = normalize({3e30f, -7e29f, 1e28f});
    const vector3 same = normalize({std::ldexp(3e30f, -100), std::ldexp(-7e29f, -100), std::ldexp(1e28f, -100)});
    EXPECT_TRUE(huge == same);
    // Non-finite input stays as it was: no direction.
    const vector3 nan = normalize({NAN, 1.0f, 0.0f});
    EXPECT_EQ(nan.y, 0.0f);
}

// Each operator on each component, with values whose results are exact in
// float, so a wrong component or operation cannot come out equal.
TEST(vector3, operators_act_on_each_component) {
    const vector3 a{1.5f, -2.0f, 3.0f}, b{0.5f, 4.0f, -8.0f};
    const struct {
        vector3 got, want;
    } cases[] = {
        {a + b, {2.0f, 2.0f, -5.0f}},
        {a - b, {1.0f, -6.0f, 11.0f}},
        {-a, {-1.5f, 2.0f, -3.0f}},
        {a * 4.0f, {6.0f, -8.0f, 12.0f}},
        {4.0f * a, {6.0f, -8.0f, 12.0f}},
        {cross(a, b), {16.0f - 12.0f, 1.5f + 12.0f, 6.0f + 1.0f}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.got.x, c.want.x);
        EXPECT_EQ(c.got.y, c.want.y);
        EXPECT_EQ(c.got.z, c.want.z);
    }
    EXPECT_EQ(dot(a, b), 0.75f - 8.0f - 24.0f);
    EXPECT_TRUE(a == (vector3{1.5f, -2.0f, 3.0f}));
    EXPECT_FALSE(a == (vector3{1.5f, -2.0f, 3.5f}));
}
