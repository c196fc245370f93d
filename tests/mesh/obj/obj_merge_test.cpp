// mesh/obj_merge.cpp: blocks taken in file order, and which error wins.

#include <gtest/gtest.h>

#include <string>

#include "tests/support/parse_every_way.h"

namespace {

const std::string v4 = "v 0 0 0\nv 0 0 0\nv 0 0 0\nv 0 0 0\n";

}  // namespace

TEST(obj_merge, a_bad_line_waits_for_indices_above_it_that_name_later_vertices) {
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
