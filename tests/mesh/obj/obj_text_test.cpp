// mesh/obj_text.cpp: line ends, byte-order marks, UTF-16 and binary input.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "mesh/obj/load_obj.h"
#include "tests/support/parse_every_way.h"

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
        const obj_outcome o = parse_every_way(c.text);
        EXPECT_EQ(o.ok, c.vertices >= 0) << c.text;
        EXPECT_EQ(o.error, c.error) << c.text;
        EXPECT_EQ(o.vertex_count, o.ok ? c.vertices : -1) << c.text;
    }
}

TEST(obj_text, a_stream_of_zero_bytes_is_refused_at_once) {
    std::FILE* zero = std::fopen("/dev/zero", "r");
    ASSERT_NE(zero, nullptr);
    mesh m;
    std::string error;
    EXPECT_FALSE(load_obj(zero, &m, "zero", &error));
    EXPECT_EQ(error, "zero:1: NUL byte; this is not a text file");
}
