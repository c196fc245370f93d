// mesh/stl/: ASCII and binary STL, how the two are told apart, the
// messages of bad files, and the fuzzer's inputs. Every file is read every
// way the reader can read it (read_every_way.h).

#include "mesh/stl/load_stl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/support/byte_builder.h"
#include "tests/support/files.h"
#include "tests/support/read_every_way.h"

namespace {

obj_outcome read_stl(const std::string& data, const char* name = "t.stl") { return read_every_way(parse_stl, data, name); }

// Three vertices a triangle, in the order written; the faces name them.
void expect_triangles(const obj_outcome& o, const std::vector<vector3>& vertices) {
    ASSERT_TRUE(o.ok) << o.error;
    ASSERT_EQ(o.vertices.size(), vertices.size());
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        EXPECT_EQ(o.vertices[i].x, vertices[i].x) << i;
        EXPECT_EQ(o.vertices[i].y, vertices[i].y) << i;
        EXPECT_EQ(o.vertices[i].z, vertices[i].z) << i;
    }
    ASSERT_EQ(o.faces.size(), vertices.size() / 3);
    for (std::size_t k = 0; k < o.faces.size(); ++k)
        for (int j = 0; j < 3; ++j) EXPECT_EQ(o.faces[k].vertex[j], static_cast<int>(3 * k) + j);
}

// An 80-byte header of text and spaces: no NUL byte in it.
std::string text_header(const std::string& text) { return text + std::string(80 - text.size(), ' '); }

byte_builder binary(const std::string& header, std::uint32_t count) {
    byte_builder b{false, header};
    b.put(count);
    return b;
}

void put_triangle(byte_builder& b, const float (&corners)[9]) {
    b.put(NAN).put(1.0f).put(-0.0f);
    for (float c : corners) b.put(c);
    b.put<std::uint16_t>(0xffff);
}

const float first[9] = {0, 0, 0, 0.0625f, 0, 0, 0, 0.0625f, 0};
const float second[9] = {0.0625f, 0.0625f, 0.03125f, 0, 0.0625f, 0, 0.0625f, 0, 0};
const std::vector<vector3> both_scaled = {{0, 0, 0},       {312.5f, 0, 0},          {0, 312.5f, 0},
                                          {312.5f, 312.5f, 156.25f}, {0, 312.5f, 0}, {312.5f, 0, 0}};

}  // namespace

TEST(stl, triangles_come_as_written) {
    // Keywords in any case and spread over lines as they come, normals of
    // any words, names with blanks, a second solid.
    const std::string ascii =
        "solid my part\n"
        "  facet normal 0 0 1\n    outer loop\n      vertex 0 0 0\n      vertex 0.0625 0 0\n      vertex 0 0.0625 0\n"
        "    endloop\n  endfacet\n"
        "  FACET Normal nan nan nan\n    Outer LOOP\n      vertex 0.0625 0.0625 0.03125   vertex 0 0.0625 0\n"
        "      vertex 0.0625 0 0\n    endloop endfacet\n"
        "endsolid my part\n"
        "solid second\nfacet normal 0 0 0 outer loop vertex 0 0 0 vertex 0 0 0 vertex 0.0625 0 0 endloop endfacet\n"
        "endsolid\n";
    std::vector<vector3> three = both_scaled;
    three.insert(three.end(), {{0, 0, 0}, {0, 0, 0}, {312.5f, 0, 0}});
    expect_triangles(read_stl(ascii), three);
    std::string crlf = "\xEF\xBB\xBF\r\n";  // and a byte-order mark, a blank line
    for (char c : ascii) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    expect_triangles(read_stl(crlf), three);

    // Binary, its header starting with "solid" as some writers do.
    byte_builder b = binary(text_header("solid but binary"), 2);
    put_triangle(b, first);
    put_triangle(b, second);
    expect_triangles(read_stl(b.bytes), both_scaled);
    expect_triangles(read_stl(binary(std::string(80, '\0'), 0).bytes), {});  // none at all

    // Enough triangles for runs on several threads.
    byte_builder many = binary(std::string(80, '\0'), 41);
    std::vector<vector3> expected;
    for (int k = 0; k < 41; ++k) {
        const float c[9] = {0.25f * static_cast<float>(k), 1, 0, 0, 0.5f, -0.125f, 2, 2, 2};
        put_triangle(many, c);
        expected.insert(expected.end(), {{1250.0f * static_cast<float>(k), 5000, 0}, {0, 2500, -625}, {10000, 10000, 10000}});
    }
    expect_triangles(read_stl(many.bytes), expected);
}

TEST(stl, binary_and_ascii_are_told_apart_by_content) {
    const std::string one_record = std::string(50, '\x01');
    const struct {
        std::string head;
        long long size;  // -1: not known
        stl_kind kind;
    } cases[] = {
        {"solid cube\nfacet normal 0 0 1\n", 31, stl_kind::ascii},
        {"\r\n  SOLID\tcube\n", -1, stl_kind::ascii},
        {"solid", 5, stl_kind::ascii},
        {"solidify\n", 9, stl_kind::none},
        {"v 0 0 0\n", 8, stl_kind::none},
        // The size rule, whatever the header says.
        {text_header("solid but binary") + "\x01" + std::string(3, '\0') + one_record, 134, stl_kind::binary},
        {text_header("anything at all") + "\x01\x01\x01\x01", 84 + 50LL * 0x01010101, stl_kind::binary},
        // A NUL byte in the first 84 and triangles counted: binary, the
        // size known or not, fitting or not.
        {text_header("solid but binary") + "\x01" + std::string(3, '\0') + one_record, -1, stl_kind::binary},
        {text_header("solid but binary") + "\x02" + std::string(3, '\0') + one_record, 134, stl_kind::binary},
        // No NUL byte and a size that does not fit: text.
        {text_header("solid is text") + "    " + one_record, 134, stl_kind::ascii},
        // Nothing counted: only the size can say binary.
        {std::string(84, '\0'), 84, stl_kind::binary},
        {std::string(84, '\0'), -1, stl_kind::none},
    };
    for (const auto& c : cases)
        EXPECT_EQ(stl_kind_of(c.head.data(), c.head.size(), c.size), c.kind) << c.head.substr(0, 20) << " " << c.size;
}

TEST(stl, bad_files_are_refused_with_the_place_and_what_is_wrong) {
    const std::string facet = "solid x\nfacet normal 0 0 1\nouter loop\n";
    const auto with = [](float value) {
        byte_builder b = binary(std::string(80, '\0'), 1);
        const float c[9] = {0, 0, 0, 0, 0, value, 0, 0, 0};
        put_triangle(b, c);
        return b.bytes;
    };
    byte_builder short_one = binary(std::string(80, '\0'), 2);
    put_triangle(short_one, first);
    const struct {
        std::string data;
        std::string error;
    } cases[] = {
        {facet + "vertex 0 0 0\nvertex 0 0 0\nendloop\nendfacet\nendsolid\n", "bad.stl:6: expected 'vertex', found 'endloop'"},
        {facet + "vertex 0 0 0\nvertex 0 0 0\nvertex 0 0 0\nvertex 0 0 0\n", "bad.stl:7: expected 'endloop', found 'vertex'"},
        {facet + "vertex 0 abc 0\n", "bad.stl:4: 'abc' is not a number"},
        {facet + "vertex 0 0 inf\n", "bad.stl:4: 'inf' is not a finite number"},
        {facet + "vertex 0 1e35 0\n", "bad.stl:4: '1e35' is too large to scale by 5000"},
        {facet + "vertex 0 0", "bad.stl:4: expected three numbers, found the end of the file"},
        {"solid x\n", "bad.stl:1: expected 'endsolid', found the end of the file"},
        {"solid x\nfacet normal 0 0\n", "bad.stl:2: expected the normal's three words, found the end of the file"},
        {"solid x\nfacet norm 0 0 1\n", "bad.stl:2: expected 'normal', found 'norm'"},
        {"solid x\nhello\n", "bad.stl:2: expected 'facet' or 'endsolid', found 'hello'"},
        {"solid x\nendsolid x\njunk\n", "bad.stl:3: expected 'solid' or the end of the file, found 'junk'"},
        {"solido\n", "bad.stl:1: expected 'solid', found 'solido'"},
        {"solid x\n" + std::string((1 << 20) + 1, ' ') + "\n", "bad.stl:2: line longer than 1048576 bytes"},
        {std::string("solid x\nfacet\0", 14), "bad.stl:2: NUL byte; this is not a text file"},
        {short_one.bytes, "bad.stl: byte 80: the header counts 2 triangles, 84 + 50 x 2 = 184 bytes, but the file has 134"},
        {binary(std::string(80, '\0'), 0xffffffffu).bytes, "bad.stl: byte 80: 4294967295 triangles need more than 2147483647 vertices"},
        {with(NAN), "bad.stl: byte 116: coordinate nan is not a finite number"},
        {with(1e35f), "bad.stl: byte 116: coordinate 1e+35 is too large to scale by 5000"},
    };
    for (const auto& c : cases) {
        const obj_outcome o = read_stl(c.data, "bad.stl");
        EXPECT_FALSE(o.ok) << c.error;
        EXPECT_EQ(o.error, c.error);
    }

    // Read as a pipe delivers it, without its size: where it ends is found
    // as it is read.
    memory_reading pipe;
    pipe.piece = 7;
    pipe.size_known = false;
    byte_builder longer = binary(std::string(80, '\0'), 1);
    put_triangle(longer, first);
    longer.text("x");
    const struct {
        std::string data;
        std::string error;
    } streamed[] = {
        {short_one.bytes, "bad.stl: byte 134: the file ends after 1 of the 2 triangles the header counts"},
        {longer.bytes, "bad.stl: byte 134: more data after the last of the 1 triangles the header counts"},
    };
    for (const auto& c : streamed) EXPECT_EQ(read_outcome(parse_stl, c.data, "bad.stl", pipe).error, c.error);
}
