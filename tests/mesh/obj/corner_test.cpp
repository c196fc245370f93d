// mesh/obj/corner.h and .cpp: face corners, whole, fed in parts, and longer
// than a block.

#include <gtest/gtest.h>

#include <string>

#include "mesh/obj/corner.h"
#include "mesh/obj/words.h"
#include "tests/support/parse_every_way.h"

TEST(corner, forms_signs_and_saturation_whole_and_cut_anywhere) {
    const struct {
        const char* word;
        bool ok;
        long long index;
        std::size_t index_length;
    } cases[] = {
        {"7", true, 7, 1},         {"+09", true, 9, 3},       {"-3/1/1", true, -3, 2}, {"12//4", true, 12, 2},
        {"5/-2", true, 5, 1},      {"12/7/3", true, 12, 2},   {"000000000000042", true, 42, 15},
        {"99999999999999999999", true, obj::index_cap, 20},  // saturates: larger than any vertex count
        {"1/", false, 0, 0},       {"1//", false, 0, 0},      {"//1", false, 0, 0},    {"1/2/3/4", false, 0, 0},
        {"1/2/", false, 0, 0},     {"0x1", false, 0, 0},      {"--1", false, 0, 0},    {"1-", false, 0, 0},
        {"-", false, 0, 0},        {"3.0", false, 0, 0},
    };
    for (const auto& c : cases) {
        const std::string word = c.word;
        // Whole, as a block's words read it (the shortcut, or the reader).
        obj::block_words w(word.data(), word.data() + word.size());
        ASSERT_FALSE(w.line_ends());
        const obj::corner_word whole = w.corner();
        EXPECT_EQ(whole.ok, c.ok) << word;
        if (c.ok) {
            EXPECT_GE(whole.index, c.index) << word;
            EXPECT_LE(whole.index, c.index == obj::index_cap ? 10 * c.index : c.index) << word;
            EXPECT_EQ(whole.index_text.length, c.index_length) << word;
        }
        // In two parts, cut anywhere.
        for (std::size_t cut = 0; cut <= word.size(); ++cut) {
            obj::corner_reader r;
            r.add(word.data(), word.data() + cut);
            r.add(word.data() + cut, word.data() + word.size());
            long long index = 0;
            ASSERT_EQ(r.finish(&index), c.ok) << word << " cut at " << cut;
            if (c.ok) {
                EXPECT_EQ(index, whole.index) << word << " cut at " << cut;
                EXPECT_EQ(r.index_length(), c.index_length) << word << " cut at " << cut;
            }
        }
    }
}

TEST(corner, words_longer_than_a_block_keep_leading_zeros_signs_and_saturating_digits) {
    const std::string zeros(130, '0');
    const std::string v4 = "v 0 0 0\nv 0 0 0\nv 0 0 0\nv 0 0 0\n";
    const obj_outcome corners =
        parse_every_way(v4 + "f 0000000000000000000000000000000000000000001 +2/" + zeros + "7/3 -" + zeros + "3//4\n" +
                        "f 1 2 " + zeros + "99999999999999999999\n");
    EXPECT_EQ(corners.error, "t.obj:6: vertex index 00000000000000000000000000000000... names no vertex (the file has 4)");
}
