// mesh/obj/grammar.h through parse_obj: what lines mean, and the messages
// of bad ones, whole and cut into blocks of every size.

#include <gtest/gtest.h>

#include <string>

#include "math/vector3.h"
#include "tests/support/expect_vector.h"
#include "tests/support/parse_every_way.h"

namespace {

// What parse_obj makes of `text`, the same cut every way the loader can cut
// it (parse_every_way checks that).
struct parsed : obj_outcome {
    explicit parsed(const std::string& text, const char* name = "t.obj") : obj_outcome(parse_every_way(text, name)) {}
    vector3 corner(int f, int j) const { return vertices[static_cast<std::size_t>(faces[static_cast<std::size_t>(f)].vertex[j])]; }
    vector3 normal(int f) const { return cross(corner(f, 1) - corner(f, 0), corner(f, 2) - corner(f, 0)); }
};

}  // namespace

TEST(grammar, corner_order_decides_the_normal) {
    const std::string verts = "v 0 0 0\nv 0.001 0 0\nv 0 0.001 0\n";
    parsed a(verts + "f 1 2 3\n");
    ASSERT_TRUE(a.ok) << a.error;
    EXPECT_VECTOR_FLOAT_EQ(a.corner(0, 0), 0, 0, 0);
    EXPECT_VECTOR_FLOAT_EQ(a.corner(0, 1), 5, 0, 0);
    EXPECT_VECTOR_FLOAT_EQ(a.corner(0, 2), 0, 5, 0);
    EXPECT_VECTOR_FLOAT_EQ(a.normal(0), 0, 0, 25);
    parsed b(verts + "f 1 3 2\n");
    ASSERT_TRUE(b.ok) << b.error;
    EXPECT_VECTOR_FLOAT_EQ(b.corner(0, 1), 0, 5, 0);
    EXPECT_VECTOR_FLOAT_EQ(b.normal(0), 0, 0, -25);
}

TEST(grammar, only_v_lines_take_vertex_slots) {
    // vn, vt, vp and other words starting with v take no slot, so slot 3
    // is the third v line; comments, groups and blank lines are skipped.
    parsed p("v 0.001 0 0\nvn 0 1 0\nvt 0.5 0.5\n# v 9 9 9\ng part\nv 0.002 0 0\nvp 1 1\n\n"
             "vx 7 7 7\nv 0.003 0 0\ns off\n  v 0.004 0 0\nf 3 2 1\n");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.vertex_count, 4);
    EXPECT_VECTOR_FLOAT_EQ(p.corner(0, 0), 15, 0, 0);
    EXPECT_VECTOR_FLOAT_EQ(p.corner(0, 1), 10, 0, 0);
    EXPECT_VECTOR_FLOAT_EQ(p.corner(0, 2), 5, 0, 0);
    EXPECT_VECTOR_FLOAT_EQ(p.vertices[3], 20, 0, 0);
}

TEST(grammar, corner_forms_negative_indices_and_later_vertices) {
    parsed p("f 4 5/1 6//2\n"                    // names vertices that come later
             "v 0.001 0 0\nv 0.002 0 0\nv 0.003 0 0\n"
             "f -3/1/1 -2//7 -1/2\n"              // -1 is the last v line above
             "v 0.004 0 0\nv 0.005 0 0\nv 0.006 0 0\n"
             "f -1 -6 +2 # trailing comment\n");
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_EQ(p.face_count, 3);
    EXPECT_VECTOR_FLOAT_EQ(p.corner(0, 0), 20, 0, 0);
    EXPECT_VECTOR_FLOAT_EQ(p.corner(0, 2), 30, 0, 0);
    EXPECT_VECTOR_FLOAT_EQ(p.corner(1, 0), 5, 0, 0);
    EXPECT_VECTOR_FLOAT_EQ(p.corner(1, 1), 10, 0, 0);
    EXPECT_VECTOR_FLOAT_EQ(p.corner(1, 2), 15, 0, 0);
    EXPECT_VECTOR_FLOAT_EQ(p.corner(2, 0), 30, 0, 0);
    EXPECT_VECTOR_FLOAT_EQ(p.corner(2, 1), 5, 0, 0);
    EXPECT_VECTOR_FLOAT_EQ(p.corner(2, 2), 10, 0, 0);
}

TEST(grammar, polygons_become_fans_and_indices_are_decimal) {
    std::string text;
    for (int i = 1; i <= 10; ++i) text += "v 0." + std::string(i < 10 ? "00" : "0") + std::to_string(i) + " 0 0\r\n";
    parsed p(text + "f 1 2 3 4 5\r\nf 010 09 008\r\n");
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_EQ(p.face_count, 4);
    const float expected[4][3] = {{5, 10, 15}, {5, 15, 20}, {5, 20, 25}, {50, 45, 40}};
    for (int f = 0; f < 4; ++f)
        for (int j = 0; j < 3; ++j) EXPECT_FLOAT_EQ(p.corner(f, j).x, expected[f][j]) << f << " " << j;
}

TEST(grammar, long_lines_are_read_whole) {
    // Pieces of a long comment must not count as faces, a face of 300
    // corners is 298 triangles, and padding does not split a vertex line.
    std::string text = "# " + std::string(300, 'x') + "f 1 2 3\n";
    text += "v" + std::string(1000, ' ') + "0.001 " + std::string(1000, '\t') + "0.002 0.003\n";
    text += "v 0 0 0\nv 0 0 0\nf";
    for (int i = 0; i < 300; ++i) text += i % 2 ? " 2" : " 3";
    parsed p(text + "\n");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.face_count, 298);
    EXPECT_VECTOR_FLOAT_EQ(p.vertices[0], 5, 10, 15);
}

TEST(grammar, rejects_bad_lines_with_name_and_line_number) {
    const std::string v3 = "v 0 0 0\nv 0 0 0\nv 0 0 0\n";
    const struct {
        std::string text;
        const char* error;
    } cases[] = {
        {v3 + "f 1 2\n", "bad.obj:4: face needs at least three corners"},
        {"f\n", "bad.obj:1: face needs at least three corners"},
        {v3 + "f 1 0 2\n", "bad.obj:4: vertex index 0 names no vertex (indices start at 1)"},
        {v3 + "f 1 2 4\n", "bad.obj:4: vertex index 4 names no vertex (the file has 3)"},
        {"v 0 0 0\nf -1 -2 1\n" + v3, "bad.obj:2: vertex index -2 names no vertex (1 above this line)"},
        {v3 + "f 1 2 99999999999999999999999\n", "bad.obj:4: vertex index 99999999999999999999999 names no vertex (the file has 3)"},
        {v3 + "f 0x1 2 3\n", "bad.obj:4: '0x1' is not a face corner (i, i/t, i//n or i/t/n, decimal)"},
        {v3 + "f 1 2 3.0\n", "bad.obj:4: '3.0' is not a face corner (i, i/t, i//n or i/t/n, decimal)"},
        {v3 + "f 1 2/3/4/5 3\n", "bad.obj:4: '2/3/4/5' is not a face corner (i, i/t, i//n or i/t/n, decimal)"},
        {v3 + "f 1 2/ 3\n", "bad.obj:4: '2/' is not a face corner (i, i/t, i//n or i/t/n, decimal)"},
        {"v 1 2\n", "bad.obj:1: vertex line needs three numbers"},
        {"v 1 x 3\n", "bad.obj:1: 'x' is not a number"},
        {"v 1 2 3abc\n", "bad.obj:1: '3abc' is not a number"},
        {"v 1 inf 3\n", "bad.obj:1: 'inf' is not a finite number"},
        {"v nan 0 0\n", "bad.obj:1: 'nan' is not a finite number"},
        {"v 0 1e39 0\n", "bad.obj:1: '1e39' is not a finite number"},
        // The first bad line in the file is the one reported.
        {"v 0 0\n" + v3 + "f 1 2\n", "bad.obj:1: vertex line needs three numbers"},
        {"f 1 1\nv 0 0\n", "bad.obj:1: face needs at least three corners"},
    };
    for (const auto& c : cases) {
        parsed p(c.text, "bad.obj");
        EXPECT_FALSE(p.ok) << c.text;
        EXPECT_EQ(p.error, c.error) << c.text;
        EXPECT_EQ(p.vertex_count, -1);
    }
}
