// mesh/obj/merge.cpp: units taken in file order, negative indices placed
// by the block's place in the file, and which error wins.

#include <gtest/gtest.h>

#include <string>

#include "tests/support/parse_every_way.h"

using namespace std::string_literals;

namespace {

const std::string v4 = "v 0 0 0\nv 0 0 0\nv 0 0 0\nv 0 0 0\n";

}  // namespace

TEST(merge, a_bad_line_waits_for_indices_above_it_that_name_later_vertices) {
    // Whether an index names a vertex depends on the v lines of the whole
    // file, malformed ones included; the first bad line in the file wins.
    const struct {
        std::string text;
        const char* error;
    } cases[] = {
        {"f 1 2 6\n" + v4 + "v 1\n", "t.obj:1: vertex index 6 names no vertex (the file has 5)"},
        {"f 1 2 5\n" + v4 + "v 1\n", "t.obj:6: vertex line needs three numbers"},
        {"f 3 2 1\nf 1 2 +09\nf 1 1 x\n" + v4, "t.obj:2: vertex index +09 names no vertex (the file has 4)"},
        {"f 1 2 4\nf 1 1 x\n" + v4, "t.obj:2: 'x' is not a face corner (i, i/t, i//n or i/t/n, decimal)"},
        {"v 0 0 0\nf 9 1 1\nf -2 1 1\n" + v4, "t.obj:2: vertex index 9 names no vertex (the file has 5)"},
        {"v 0 0 0\nf 5 1 1\nf -2 1 1\n" + v4, "t.obj:3: vertex index -2 names no vertex (1 above this line)"},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_every_way(c.text).error, c.error) << c.text;
}

TEST(merge, a_nul_byte_ends_the_text_and_its_line_counts_for_nothing) {
    // Nothing after the NUL byte is read, so an index above it still
    // waiting for its vertex names none: it is the first bad line. The
    // NUL's own line adds nothing, neither its v nor its indices, whether
    // it is read whole or in pieces.
    const struct {
        std::string text;
        const char* error;
    } cases[] = {
        {"f 1 2 9\nv 1\n\0"s, "t.obj:1: vertex index 2 names no vertex (the file has 1)"},
        {"f 3 2 9\nv 0 0 0\n\0"s, "t.obj:1: vertex index 3 names no vertex (the file has 1)"},
        {"f 1 2 3\nv 1\nv 0 0 0\nv 0 0 0 \0\n"s, "t.obj:1: vertex index 3 names no vertex (the file has 2)"},
        {"v 0 0 0\nf 1 1 +9 \0\n"s, "t.obj:2: NUL byte; this is not a text file"},
        {"f 1 1 2\nv 0 0 0\nf 1 1 9 \0 x\nv 0 0 0\n"s, "t.obj:1: vertex index 2 names no vertex (the file has 1)"},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_every_way(c.text).error, c.error) << c.text;
}

TEST(merge, negative_indices_count_back_from_the_line_in_every_corner) {
    // Six vertices at x = 5, 10, ... 30; faces with negative indices in
    // every corner, cut into blocks at every size, so that most faces lie
    // in a block after the vertices they name.
    std::string text;
    for (int i = 1; i <= 6; ++i) text += "v 0.00" + std::to_string(i) + " 0 0\n";
    text += "f -1 -2 -3\nf 1 -6 -5\nf -4 2 -3\nf -6 -5 4 -1\n";
    const float expected[][3] = {{30, 25, 20}, {5, 5, 10}, {15, 10, 20}, {5, 10, 20}, {5, 20, 30}};
    const obj_outcome o = parse_every_way(text);
    ASSERT_TRUE(o.ok) << o.error;
    ASSERT_EQ(o.faces.size(), 5u);
    for (std::size_t f = 0; f < 5; ++f)
        for (int j = 0; j < 3; ++j) EXPECT_EQ(o.vertices[o.faces[f].vertex[j]].x, expected[f][j]) << f << " " << j;
}
