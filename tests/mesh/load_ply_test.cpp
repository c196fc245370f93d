// mesh/ply/: PLY files in ASCII and binary of both byte orders, values of
// every type, what is stepped over, the messages of bad files, and the
// fuzzer's inputs. Every file is read every way the reader can read it
// (read_every_way.h).

#include "mesh/ply/load_ply.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/byte_builder.h"
#include "tests/support/files.h"
#include "tests/support/read_every_way.h"

namespace {

using corners = std::array<int, 3>;

obj_outcome read_ply(const std::string& data, const char* name = "t.ply") { return read_every_way(parse_ply, data, name); }

void expect_mesh(const obj_outcome& o, const std::vector<vector3>& vertices, const std::vector<corners>& faces) {
    ASSERT_TRUE(o.ok) << o.error;
    ASSERT_EQ(o.vertices.size(), vertices.size());
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        EXPECT_EQ(o.vertices[i].x, vertices[i].x) << i;
        EXPECT_EQ(o.vertices[i].y, vertices[i].y) << i;
        EXPECT_EQ(o.vertices[i].z, vertices[i].z) << i;
    }
    ASSERT_EQ(o.faces.size(), faces.size());
    for (std::size_t k = 0; k < faces.size(); ++k)
        for (int j = 0; j < 3; ++j) EXPECT_EQ(o.faces[k].vertex[j], faces[k][static_cast<std::size_t>(j)]) << k << " " << j;
}

std::string header(const std::string& format, const std::string& elements) {
    return "ply\nformat " + format + " 1.0\n" + elements + "end_header\n";
}

const char* const binary_formats[] = {"binary_little_endian", "binary_big_endian"};

// Four corners in metres that are exact in binary, and what they scale to.
const double square[4][3] = {{0, 0, 0}, {0.0625, 0, 0}, {0, 0.0625, 0}, {0.0625, 0.0625, 0.03125}};
const std::vector<vector3> square_scaled = {{0, 0, 0}, {312.5f, 0, 0}, {0, 312.5f, 0}, {312.5f, 312.5f, 156.25f}};

}  // namespace

TEST(ply, one_mesh_in_every_encoding) {
    // A quad fans from its first corner, as an OBJ face does.
    const std::string elements =
        "element vertex 4\nproperty float x\nproperty float y\nproperty float z\n"
        "element face 2\nproperty list uchar int vertex_indices\n";
    const std::vector<corners> faces = {{0, 1, 3}, {0, 3, 2}, {2, 1, 0}};
    expect_mesh(read_ply(header("ascii", elements) + "0 0 0\n0.0625 0 0\n0 0.0625 0\n0.0625 0.0625 0.03125\n4 0 1 3 2\n3 2 1 0\n"),
                square_scaled, faces);
    for (const char* format : binary_formats) {
        byte_builder b{format == std::string("binary_big_endian"), header(format, elements)};
        for (const auto& v : square) b.put_as("float", v[0]).put_as("float", v[1]).put_as("float", v[2]);
        b.put<std::uint8_t>(4).put<std::int32_t>(0).put<std::int32_t>(1).put<std::int32_t>(3).put<std::int32_t>(2);
        b.put<std::uint8_t>(3).put<std::int32_t>(2).put<std::int32_t>(1).put<std::int32_t>(0);
        SCOPED_TRACE(format);
        expect_mesh(read_ply(b.bytes), square_scaled, faces);
    }
}

TEST(ply, values_of_every_type_in_both_byte_orders) {
    const char* const types[] = {"char", "uchar", "short", "ushort", "int", "uint", "float", "double"};
    const char* const aliases[] = {"int8", "uint8", "int16", "uint16", "int32", "uint32", "float32", "float64"};
    for (const char* format : binary_formats) {
        const bool big = format == std::string("binary_big_endian");
        // Coordinates of every type, the faces' list the same each time.
        for (int t = 0; t < 8; ++t) {
            const std::string type = types[t];
            byte_builder b{big, header(format, "element vertex 3\nproperty " + type + " x\nproperty " + aliases[t] +
                                                   " y\nproperty " + type + " z\nelement face 1\n"
                                                   "property list uchar int vertex_indices\n")};
            for (double v = 1; v <= 9; ++v) b.put_as(type, v);
            b.put<std::uint8_t>(3).put<std::int32_t>(2).put<std::int32_t>(0).put<std::int32_t>(1);
            SCOPED_TRACE(std::string(format) + " " + type);
            expect_mesh(read_ply(b.bytes), {{5000, 10000, 15000}, {20000, 25000, 30000}, {35000, 40000, 45000}},
                        {{2, 0, 1}});
        }
        // Every integer type for the count and for the indices.
        for (int c = 0; c < 6; ++c)
            for (int i = 0; i < 6; ++i) {
                byte_builder b{big, header(format, std::string("element vertex 4\nproperty float x\nproperty float y\n"
                                                               "property float z\nelement face 1\nproperty list ") +
                                                       types[c] + " " + types[i] + " vertex_indices\n")};
                for (const auto& v : square) b.put_as("float", v[0]).put_as("float", v[1]).put_as("float", v[2]);
                b.put_as(types[c], 4).put_as(types[i], 3).put_as(types[i], 1).put_as(types[i], 0).put_as(types[i], 2);
                SCOPED_TRACE(std::string(format) + " " + types[c] + " " + types[i]);
                expect_mesh(read_ply(b.bytes), square_scaled, {{3, 1, 0}, {3, 0, 2}});
            }
    }
}

TEST(ply, everything_else_is_stepped_over) {
    // Elements around the mesh's, properties around x, y, z and the index
    // list (lists among them), faces before vertices, "vertex_index", CR LF
    // line ends, and data after the last element.
    const std::string elements =
        "comment made by hand\nobj_info anything at all\n"
        "element material 2\nproperty uchar shininess\nproperty list uchar float colour\n"
        "element face 2\nproperty uchar flags\nproperty list ushort uint vertex_index\nproperty list uchar float texcoord\n"
        "element vertex 3\nproperty uchar red\nproperty float x\nproperty list ushort double extra\nproperty float y\n"
        "property double nx\nproperty float z\n"
        "element edge 1\nproperty int a\nproperty int b\n";
    const std::vector<vector3> vertices = {{312.5f, 0, 0}, {0, 312.5f, 0}, {312.5f, 312.5f, 156.25f}};
    const std::vector<corners> faces = {{0, 1, 2}, {2, 1, 0}, {2, 0, 1}};

    const std::string ascii = header("ascii", elements) +
                              "5 3 0.5 0.5 0.5\n6 0\n"
                              "0 3 0 1 2 6 0 0 1 0 1 1\n1 4 2 1 0 1 0\n"
                              "200 0.0625 2 9 9 0 1 0\n201 0 0 0.0625 7 0\n202 0.0625 1 5 0.0625 0.5 0.03125\n"
                              "0 1\nanything after the last element\n";
    expect_mesh(read_ply(ascii), vertices, faces);
    std::string crlf;
    for (char c : ascii) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    expect_mesh(read_ply(crlf), vertices, faces);

    for (const char* format : binary_formats) {
        for (const char* line_end : {"\n", "\r\n"}) {
            std::string text = header(format, elements);
            std::string ended;
            for (char c : text) ended += c == '\n' ? std::string(line_end) : std::string(1, c);
            byte_builder b{format == std::string("binary_big_endian"), ended};
            b.put<std::uint8_t>(5).put<std::uint8_t>(3).put(0.5f).put(0.5f).put(0.5f);
            b.put<std::uint8_t>(6).put<std::uint8_t>(0);
            b.put<std::uint8_t>(0).put<std::uint16_t>(3).put<std::uint32_t>(0).put<std::uint32_t>(1).put<std::uint32_t>(2);
            b.put<std::uint8_t>(6).put(0.0f).put(0.0f).put(1.0f).put(0.0f).put(1.0f).put(1.0f);
            b.put<std::uint8_t>(1).put<std::uint16_t>(4).put<std::uint32_t>(2).put<std::uint32_t>(1).put<std::uint32_t>(0).put<std::uint32_t>(1);
            b.put<std::uint8_t>(0);
            b.put<std::uint8_t>(200).put(0.0625f).put<std::uint16_t>(2).put(9.0).put(9.0).put(0.0f).put(1.0).put(0.0f);
            b.put<std::uint8_t>(201).put(0.0f).put<std::uint16_t>(0).put(0.0625f).put(7.0).put(0.0f);
            b.put<std::uint8_t>(202).put(0.0625f).put<std::uint16_t>(1).put(5.0).put(0.0625f).put(0.5).put(0.03125f);
            b.put<std::int32_t>(0).put<std::int32_t>(1).text("anything after the last element");
            SCOPED_TRACE(std::string(format) + (line_end[0] == '\r' ? " CR LF" : " LF"));
            expect_mesh(read_ply(b.bytes), vertices, faces);
        }
    }
}

TEST(ply, runs_of_equal_records_and_the_odd_ones_between) {
    // Triangles with a quad or a pentagon now and then: the odd records
    // interrupt the runs, and every fan must still come out in order.
    const int vertex_count = 7;
    const int sizes[] = {3, 3, 3, 4, 3, 5, 3, 3, 3, 3, 3, 4, 4, 4, 3};
    byte_builder b{false, header("binary_little_endian",
                                 "element vertex 7\nproperty float x\nproperty float y\nproperty float z\n"
                                 "element face 60\nproperty list uchar int vertex_indices\n")};
    std::vector<vector3> vertices;
    for (int i = 0; i < vertex_count; ++i) {
        b.put(0.5f * static_cast<float>(i)).put(0.25f).put(-1.0f);
        vertices.push_back({2500.0f * static_cast<float>(i), 1250.0f, -5000.0f});
    }
    std::vector<corners> faces;
    for (int k = 0; k < 60; ++k) {
        const int n = sizes[k % 15];
        b.put(static_cast<std::uint8_t>(n));
        std::vector<int> c;
        for (int j = 0; j < n; ++j) {
            c.push_back((k + 2 * j) % vertex_count);
            b.put<std::int32_t>(c.back());
        }
        for (int j = 2; j < n; ++j) faces.push_back({c[0], c[static_cast<std::size_t>(j) - 1], c[static_cast<std::size_t>(j)]});
    }
    expect_mesh(read_ply(b.bytes), vertices, faces);
}

TEST(ply, coordinates_round_as_the_obj_reader_rounds_them) {
    // ASCII: as strtof reads the word, times 5000 in float. Binary doubles
    // and wide integers: rounded to float, then times 5000 in float.
    const char* const words[] = {"0.1", "-7.25e-2", "0x1p-4", "1e-45", "3.4e30", "0.123456789012345678", "+2", "16777217"};
    std::string data = header("ascii", "element vertex 8\nproperty double x\nproperty int y\nproperty uchar z\n");
    for (const char* w : words) data += std::string(w) + " " + w + " " + w + "\n";
    const obj_outcome a = read_ply(data);
    ASSERT_TRUE(a.ok) << a.error;
    for (std::size_t i = 0; i < 8; ++i) {
        const float expected = std::strtof(words[i], nullptr) * 5000.0f;
        EXPECT_EQ(a.vertices[i].x, expected) << words[i];
        EXPECT_EQ(a.vertices[i].z, expected) << words[i];
    }

    const double doubles[] = {0.1, -1.0 / 3.0, 1.0 + 0x1p-24, 1.0 + 0x1p-24 + 0x1p-60, 6.5e34};
    byte_builder b{true, header("binary_big_endian", "element vertex 5\nproperty double x\nproperty int y\nproperty uint z\n")};
    for (double d : doubles) b.put(d).put<std::int32_t>(16777217).put<std::uint32_t>(4294967295u);
    const obj_outcome o = read_ply(b.bytes);
    ASSERT_TRUE(o.ok) << o.error;
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(o.vertices[i].x, static_cast<float>(doubles[i]) * 5000.0f) << doubles[i];
        EXPECT_EQ(o.vertices[i].y, 16777216.0f * 5000.0f);
        EXPECT_EQ(o.vertices[i].z, 4294967296.0f * 5000.0f);
    }
}

TEST(ply, bad_files_are_refused_with_the_place_and_what_is_wrong) {
    const std::string mesh_elements =
        "element vertex 3\nproperty float x\nproperty float y\nproperty float z\n"
        "element face 1\nproperty list uchar int vertex_indices\n";
    const std::string text = header("ascii", mesh_elements);  // 9 lines
    const std::string three = "0.0 0 0\n0.0 0 0\n0.0 0 0\n";
    const std::string bin = header("binary_little_endian", mesh_elements);
    const auto at = [&](std::size_t offset) { return "bad.ply: byte " + std::to_string(bin.size() + offset) + ": "; };
    const auto vertices = [&](float y1) {
        byte_builder b{false, bin};
        for (int i = 0; i < 3; ++i) b.put(0.0f).put(i == 1 ? y1 : 0.0f).put(0.0f);
        return b;
    };
    const auto face = [&](int count, std::vector<int> indices) {
        byte_builder b = vertices(0.0f);
        b.put(static_cast<std::uint8_t>(count));
        for (int i : indices) b.put<std::int32_t>(i);
        return b.bytes;
    };
    const std::string one_double = header("binary_little_endian", "element vertex 1\nproperty double x\nproperty float y\nproperty float z\n");
    const auto one_vertex = [&](double x) { return byte_builder{false, one_double}.put(x).put(0.0f).put(0.0f).bytes; };
    const std::string one_list = header("binary_little_endian", "element extra 1\nproperty list char int stuff\n");
    const std::string huge = header("binary_big_endian", "element vertex 2000000000\nproperty float x\nproperty float y\nproperty float z\n");
    const auto byte = [](const std::string& head) { return "bad.ply: byte " + std::to_string(head.size()) + ": "; };
    const struct {
        std::string data;
        std::string error;
    } cases[] = {
        // The header.
        {"plyx\nformat ascii 1.0\nend_header\n", "bad.ply:1: not a PLY file (the first line is not 'ply')"},
        {"ply\nformat ascii 2.0\nend_header\n", "bad.ply:2: PLY version '2.0' is not 1.0"},
        {"ply\nformat text 1.0\nend_header\n", "bad.ply:2: 'text' is not a PLY format (ascii, binary_little_endian or binary_big_endian)"},
        {"ply\nelement vertex 0\nend_header\n", "bad.ply:3: the header has no format line"},
        {"ply\nelement vertex 0\nformat ascii 1.0\n", "bad.ply:3: the format line must come before the elements"},
        {"ply\nformat ascii 1.0\nelephant 1\n", "bad.ply:3: 'elephant' is not a PLY header line"},
        {"ply\nformat ascii 1.0\nproperty float x\n", "bad.ply:3: a property line before any element line"},
        {"ply\nformat ascii 1.0\nelement face 0\nproperty list uchar int\n",
         "bad.ply:4: a property line is 'property TYPE NAME' or 'property list COUNT_TYPE TYPE NAME'"},
        {"ply\nformat ascii 1.0\nelement face 0\nproperty quad x\n", "bad.ply:4: 'quad' is not a PLY type"},
        {"ply\nformat ascii 1.0\nelement face 0\nproperty list float int vertex_indices\n",
         "bad.ply:4: a list's count must be of an integer type"},
        {"ply\nformat ascii 1.0\nelement face 0\nproperty list uchar float vertex_indices\n",
         "bad.ply:4: vertex indices must be of an integer type"},
        {"ply\nformat ascii 1.0\nelement face 0\nproperty int vertex_indices\n", "bad.ply:4: the face's 'vertex_indices' must be a list"},
        {"ply\nformat ascii 1.0\nelement vertex 0\nproperty list uchar float x\n", "bad.ply:4: the vertex's 'x' must not be a list"},
        {"ply\nformat ascii 1.0\nelement vertex 0\nproperty float x\nproperty double x\n", "bad.ply:5: a second 'x' property"},
        {"ply\nformat ascii 1.0\nelement vertex 0\nelement vertex 0\n", "bad.ply:4: a second 'vertex' element"},
        {"ply\nformat ascii 1.0\nelement vertex -1\n", "bad.ply:3: '-1' is not an element count"},
        {"ply\nformat ascii 1.0\nelement other 9999999999999999999\n", "bad.ply:3: '9999999999999999999' is not an element count"},
        {"ply\nformat ascii 1.0\nelement vertex 2147483648\n", "bad.ply:3: more than 2147483647 vertices"},
        {"ply\nformat ascii 1.0\nelement face 2147483648\n", "bad.ply:3: more than 2147483647 faces"},
        {"ply\nformat ascii 1.0\nelement vertex 0\nproperty float x\nproperty float y\nend_header\n",
         "bad.ply:3: the vertex element has no 'z' property"},
        {"ply\nformat ascii 1.0\nelement face 0\nproperty int flags\nend_header\n",
         "bad.ply:3: the face element has no 'vertex_indices' list"},
        {"ply\nformat ascii 1.0\n", "bad.ply:3: the file ends before 'end_header'"},
        {std::string("ply\nformat ascii 1.0\ncomment a\0b\nend_header\n", 41), "bad.ply:3: NUL byte; this is not a text file"},
        {"ply\nformat binary_little_endian 1.0\nend_header\r\n", "bad.ply:3: the end_header line must end as the 'ply' line does"},
        // ASCII data: lines 10 to 12 are the vertices, 13 the face.
        {text + three + "2 0 1\n", "bad.ply:13: face needs at least three corners"},
        {text + three + "3 0 1 3\n", "bad.ply:13: vertex index 3 names no vertex (the file has 3)"},
        {text + three + "3 0 -1 2\n", "bad.ply:13: vertex index -1 names no vertex (indices start at 0)"},
        {text + three + "3 0 1.5 2\n", "bad.ply:13: '1.5' is not an integer"},
        {text + three + "3 0 1\n", "bad.ply:13: too few values for element 'face'"},
        {text + "0 0 0\n0 abc 0\n0 0 0\n3 0 1 2\n", "bad.ply:11: 'abc' is not a number"},
        {text + "0 0 0\n0 0 inf\n0 0 0\n3 0 1 2\n", "bad.ply:11: 'inf' is not a finite number"},
        {text + "0 0 0\n1e35 0 0\n0 0 0\n3 0 1 2\n", "bad.ply:11: '1e35' is too large to scale by 5000"},
        {text + "0 0\n0.0 0 0\n0.0 0 0\n3 0 1 2\n", "bad.ply:10: too few values for element 'vertex'"},
        {text + "0 0 0 0\n0 0 0\n0 0 0\n3 0 1 2\n", "bad.ply:10: more values than element 'vertex' has properties"},
        {header("ascii", "element vertex 1\nproperty float x\nproperty float y\nproperty list char float extra\n"
                         "property float z\n") + "0 0 -1 0\n",
         "bad.ply:9: list count -1 is negative"},
        {text + "0.0000000000 0 0\n0.0000000000 0 0\n", "bad.ply:12: the file ends inside element 'vertex', after 2 of its 3 records"},
        {text + "0 0 0\n", "bad.ply: byte " + std::to_string(text.size()) + ": the header's elements take at least 25 bytes, the file has 6 after the header"},
        // Binary data: 12 bytes a vertex, then the face's count and indices.
        {face(3, {0, 1, 3}), at(45) + "vertex index 3 names no vertex (the file has 3)"},
        {face(3, {0, -2, 1}), at(41) + "vertex index -2 names no vertex (indices start at 0)"},
        {face(2, {0, 1, 0}), at(36) + "face needs at least three corners"},
        {face(4, {0, 1, 2}), at(49) + "the file ends inside element 'face', after 0 of its 1 records"},
        {vertices(NAN).bytes + face(3, {0, 1, 2}).substr(bin.size() + 36), at(16) + "coordinate nan is not a finite number"},
        {vertices(1e35f).bytes + face(3, {0, 1, 2}).substr(bin.size() + 36), at(16) + "coordinate 1e+35 is too large to scale by 5000"},
        {one_vertex(1e300), byte(one_double) + "coordinate 1e+300 is not a finite number"},
        {one_vertex(-INFINITY), byte(one_double) + "coordinate -inf is not a finite number"},
        {byte_builder{false, one_list}.put<std::int8_t>(-1).bytes, byte(one_list) + "list count -1 is negative"},
        {bin, byte(bin) + "the header's elements take at least 49 bytes, the file has 0 after the header"},
        {huge + "xyz", byte(huge) + "the header's elements take at least 24000000000 bytes, the file has 3 after the header"},
    };
    for (const auto& c : cases) {
        const obj_outcome o = read_ply(c.data, "bad.ply");
        EXPECT_FALSE(o.ok) << c.error;
        EXPECT_EQ(o.error, c.error);
    }
}
