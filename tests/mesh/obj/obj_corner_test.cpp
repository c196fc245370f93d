// mesh/obj_corner.cpp: face corners, here fed in pieces.

#include <gtest/gtest.h>

#include <string>

#include "tests/support/parse_every_way.h"

TEST(obj_corner, words_longer_than_a_block_keep_leading_zeros_signs_and_saturating_digits) {
    const std::string zeros(130, '0');
    const std::string v4 = "v 0 0 0\nv 0 0 0\nv 0 0 0\nv 0 0 0\n";
    const obj_outcome corners =
        parse_every_way(v4 + "f 0000000000000000000000000000000000000000001 +2/" + zeros + "7/3 -" + zeros + "3//4\n" +
                        "f 1 2 " + zeros + "99999999999999999999\n");
    EXPECT_EQ(corners.error, "t.obj:6: vertex index 00000000000000000000000000000000... names no vertex (the file has 4)");
}
