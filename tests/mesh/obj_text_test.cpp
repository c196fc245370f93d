#include "mesh/load_obj.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct outcome {
    bool ok = false;
    std::string error;
    int vertex_count = -1, face_count = -1;
    std::string arrays;  // the vertices' and faces' bytes
    float x0 = 0.0f;     // the first vertex's x

    bool operator==(const outcome& o) const { return ok == o.ok && error == o.error && arrays == o.arrays; }
};

outcome parse(const std::string& text, std::size_t block, int threads) {
    outcome o;
    mesh m;
    o.ok = parse_obj(text.data(), text.size(), "t.obj", &m, &o.error, block, threads);
    if (o.ok) {
        o.vertex_count = m.vertex_count;
        o.face_count = m.face_count;
        o.arrays.assign(reinterpret_cast<const char*>(m.vertices), sizeof(vector3) * m.vertex_count);
        o.arrays.append(reinterpret_cast<const char*>(m.faces), sizeof(face_corners) * m.face_count);
        if (m.vertex_count > 0) o.x0 = m.vertices[0].x;
        release_mesh(&m);
    }
    return o;
}

// The text in one block, then cut into blocks of 1 to 9 bytes (lines longer
// than a block are read in pieces) and parsed on three threads: every way
// must give the same result.
outcome parse_every_way(const std::string& text) {
    const outcome whole = parse(text, obj_block_size, 1);
    for (std::size_t block = 1; block <= 9; ++block) {
        const outcome cut = parse(text, block, 3);
        EXPECT_TRUE(cut == whole) << "block " << block << ": " << cut.error << " / " << whole.error << "\n" << text;
    }
    return whole;
}

const std::string v4 = "v 0 0 0\nv 0 0 0\nv 0 0 0\nv 0 0 0\n";

}  // namespace

TEST(obj_text, line_ends_byte_order_marks_and_binary) {
    const struct {
        std::string text;
        int vertices;  // -1: rejected with `error`
        const char* error;
    } cases[] = {
        {"v 1 2 3\rv 4 5 6\r", 2, ""},
        {"v 1 2 3\r\nv 4 5 6\nv 7 8 9", 3, ""},
        {"\r\r\n\nv 1\n", -1, "t.obj:4: vertex line needs three numbers"},
        {"\xEF\xBB\xBFv 1 2 3\n", 1, ""},
        {"\xEF\xBB\xBF", 0, ""},
        {"\xEF\xBBv 1 2 3\n", 0, ""},
        {std::string("\xFF\xFEv\0 \0", 6), -1, "t.obj:1: UTF-16 text; save it as UTF-8 to load it"},
        {std::string("\xFE\xFF\0v", 4), -1, "t.obj:1: UTF-16 text; save it as UTF-8 to load it"},
        {std::string("v 1 2 3\n# a\0b\nv 1\n", 18), -1, "t.obj:2: NUL byte; this is not a text file"},
        {std::string("v 1 2 3\r\0", 9), -1, "t.obj:2: NUL byte; this is not a text file"},
        {std::string("v 1\n\0", 5), -1, "t.obj:1: vertex line needs three numbers"},
        // A NUL byte makes its whole line binary, even after a bad number.
        {std::string("v 1 0x 2 \0 3\n", 13), -1, "t.obj:1: NUL byte; this is not a text file"},
    };
    for (const auto& c : cases) {
        const outcome o = parse_every_way(c.text);
        EXPECT_EQ(o.ok, c.vertices >= 0) << c.text;
        EXPECT_EQ(o.error, c.error) << c.text;
        EXPECT_EQ(o.vertex_count, o.ok ? c.vertices : -1) << c.text;
    }
}

TEST(obj_text, a_bad_line_waits_for_indices_above_it_that_name_later_vertices) {
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

TEST(obj_text, words_longer_than_a_block_read_as_strtof_reads_them) {
    const std::string zeros(130, '0');
    const std::string words[] = {
        "16777217",  // halfway: rounds to even
        "16777217.", "16777217.0000000000000000000000000000000000001",
        // A nonzero digit far beyond the first 120 still decides a halfway case.
        "16777217." + zeros + "1", "0x1.000001" + zeros + "1p0",
        "0.000000000000000000000000000000000000000000000000000000000000000000000000001e+70", "-0",
        "0x1.000001p0", "0X1.0000010000000000000000000000000000000000000000001P+0", "1e-46", "0x1p-149",
        "3.4028235e38", "1e38", "inf", "-Infinity", "nan(x_1)", "NAN", "0x", "0x.p1", "1e", "1e+", ".", "+-1",
        "infinit", "nan(", "1.5.2", "0x1p", "00x1", "1.e5", ".5e-1",
    };
    for (const std::string& word : words) {
        const outcome o = parse_every_way("v " + word + " 0 0\n");
        char* stop = nullptr;
        const float expected = std::strtof(word.c_str(), &stop) * obj_scale;
        if (*stop == '\0' && std::isfinite(expected)) {
            ASSERT_TRUE(o.ok) << word << ": " << o.error;
            EXPECT_EQ(std::memcmp(&o.x0, &expected, sizeof expected), 0) << word;
        } else {
            EXPECT_FALSE(o.ok) << word;
        }
    }
    EXPECT_EQ(parse_every_way("v 16777217." + zeros + "1 0 0\n").x0, 16777218.0f * obj_scale);

    // Corners: leading zeros, signs and saturating digits, in pieces.
    const outcome corners =
        parse_every_way(v4 + "f 0000000000000000000000000000000000000000001 +2/" + zeros + "7/3 -" + zeros + "3//4\n" +
                        "f 1 2 " + zeros + "99999999999999999999\n");
    EXPECT_EQ(corners.error, "t.obj:6: vertex index 00000000000000000000000000000000... names no vertex (the file has 4)");
}

TEST(load_obj, a_stream_of_zero_bytes_is_refused_at_once) {
    std::FILE* zero = std::fopen("/dev/zero", "r");
    ASSERT_NE(zero, nullptr);
    mesh m;
    std::string error;
    EXPECT_FALSE(load_obj(zero, &m, "zero", &error));
    EXPECT_EQ(error, "zero:1: NUL byte; this is not a text file");
}
