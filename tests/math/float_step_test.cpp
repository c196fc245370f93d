#include "math/float_step.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

// The steps must be the library's, bit for bit, at every kind of float.
TEST(float_step, matches_nextafter_at_zeros_denormals_powers_of_two_and_the_ends) {
    constexpr float inf = std::numeric_limits<float>::infinity();
    const float cases[] = {0.0f, -0.0f, std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::denorm_min(),
                           0x1p-126f, -0x1p-126f, 1.0f, -1.0f, 0x1.fffffep-1f, 150000.0f, -3.5e-20f,
                           std::numeric_limits<float>::max(), -std::numeric_limits<float>::max(), inf, -inf};
    for (const float f : cases) {
        const float down = next_float_down(f), up = next_float_up(f);
        const float want_down = std::nextafter(f, -inf), want_up = std::nextafter(f, inf);
        EXPECT_EQ(std::memcmp(&down, &want_down, sizeof down), 0) << f;
        EXPECT_EQ(std::memcmp(&up, &want_up, sizeof up), 0) << f;
    }
    EXPECT_TRUE(std::isnan(next_float_down(std::numeric_limits<float>::quiet_NaN())));
    EXPECT_TRUE(std::isnan(next_float_up(std::numeric_limits<float>::quiet_NaN())));
}
