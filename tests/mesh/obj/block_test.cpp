// mesh/obj/block.cpp: the densest text a block can hold fits the arrays
// reserved for it (debug and sanitizer builds check every push against
// the reserved room), and comes out whole.

#include <gtest/gtest.h>

#include <string>

#include "tests/support/obj_outcome.h"

TEST(block, the_densest_lines_fit_the_room_reserved_for_a_block) {
    // The fewest bytes per vertex, per triangle, and per corner counted
    // back from the line, at every block size from one byte to past the
    // longest line.
    std::string vertices, fan = "f", back = "f";
    for (int i = 0; i < 40; ++i) vertices += "v 0 0 0\n";
    for (int i = 0; i < 60; ++i) fan += " 1";
    for (int i = 0; i < 40; ++i) back += " -1";
    const struct {
        std::string text;
        std::size_t vertices, faces;
    } cases[] = {
        {vertices, 40, 0},
        {"v 0 0 0\n" + fan + "\n" + fan, 1, 116},
        {"v 0 0 0\n" + back + "\n" + back + "\n", 1, 76},
    };
    for (const auto& c : cases)
        for (std::size_t block = 1; block <= 200; ++block) {
            const obj_outcome o = parse_outcome(c.text, block, 2);
            ASSERT_TRUE(o.ok) << block << ": " << o.error;
            ASSERT_EQ(o.vertices.size(), c.vertices) << block;
            ASSERT_EQ(o.faces.size(), c.faces) << block;
        }
}
