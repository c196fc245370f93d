#pragma once

// A vector checked component by component, each failure reported at the
// caller's line.

#include <gtest/gtest.h>

// Exactly: the expected values are written to enough digits to name each
// float, so a different order of rounding shows.
#define EXPECT_VECTOR_EQ(v, ex, ey, ez) \
    do {                                \
        EXPECT_EQ((v).x, ex);           \
        EXPECT_EQ((v).y, ey);           \
        EXPECT_EQ((v).z, ez);           \
    } while (0)

// Within four units in the last place.
#define EXPECT_VECTOR_FLOAT_EQ(v, ex, ey, ez) \
    do {                                      \
        EXPECT_FLOAT_EQ((v).x, ex);           \
        EXPECT_FLOAT_EQ((v).y, ey);           \
        EXPECT_FLOAT_EQ((v).z, ez);           \
    } while (0)
