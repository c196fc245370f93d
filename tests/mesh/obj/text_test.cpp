// mesh/obj/text.cpp: line ends, byte-order marks, UTF-16, binary input and
// failed reads.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "mesh/obj/load_obj.h"
#include "mesh/obj/loader.h"
#include "tests/support/parse_every_way.h"

namespace {

// Text that reading fails on after its first `good` bytes, with EIO.
class failing_input : public obj::input {
public:
    failing_input(const std::string& text, std::size_t good) : text_(text), good_(std::min(good, text.size())) {}
    std::size_t read(char* to, std::size_t n) override {
        const std::size_t r = std::min(n, good_ - at_);
        std::memcpy(to, text_.data() + at_, r);
        at_ += r;
        if (r < n) failure_ = EIO;
        return r;
    }
    int error() const override { return failure_; }

private:
    const std::string text_;
    const std::size_t good_;
    std::size_t at_ = 0;
    int failure_ = 0;
};

std::string read_failing(const std::string& text, std::size_t good, std::size_t block) {
    failing_input in(text, good);
    mesh m;
    std::string error;
    if (obj::read_obj(in, "t.obj", &m, &error, block, 2)) release_mesh(&m);
    return error;
}

}  // namespace

TEST(text, line_ends_byte_order_marks_and_binary) {
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

TEST(text, a_stream_of_zero_bytes_is_refused_at_once) {
    std::FILE* zero = std::fopen("/dev/zero", "r");
    ASSERT_NE(zero, nullptr);
    mesh m;
    std::string error;
    EXPECT_FALSE(load_obj(zero, &m, "zero", &error));
    EXPECT_EQ(error, "zero:1: NUL byte; this is not a text file");
}

TEST(text, line_ends_split_between_reads_end_one_line_each) {
    // Every block size puts some line end at the end of a read, CR LF
    // split in two among them; the line numbers and the vertices counted
    // show a line end lost (two lines made one) or one too many.
    const struct {
        std::string text;
        const char* error;
    } cases[] = {
        {"# c\nv 1 2 3\n# d\nv 4 5 6\nv 7 8 9\n\nv 7\n", "t.obj:7: vertex line needs three numbers"},
        {"# c\r\nv 1 2 3\r\n\r\n# d\r\nv 4 5 6\r\nv 7\r\n", "t.obj:6: vertex line needs three numbers"},
        {"# c\rv 1 2 3\r\r\nv 4 5 6\r\n\rv 7\r", "t.obj:6: vertex line needs three numbers"},
        // Lines longer than most blocks, ending in CR LF.
        {"# a comment longer than the block\r\nv 1 2 3 and more words after it\r\n\r\nv 7\r\n",
         "t.obj:4: vertex line needs three numbers"},
    };
    for (const auto& c : cases)
        for (std::size_t block = 1; block <= 40; ++block) {
            const obj_outcome o = parse_outcome(c.text, block, 2);
            ASSERT_EQ(o.error, c.error) << "block " << block << "\n" << c.text;
        }
}

TEST(text, a_failed_read_is_reported_as_such_wherever_it_falls) {
    // Cut short anywhere, even at a line end or at the very end, the text
    // is not all there: no line it cut may be reported as bad.
    const std::string text = "v 0 0 0\nv 0.001 0 0\r\nv 0 0.001 0\nf 1 2 3 # a comment of some length\nf -3 -2 -1\n";
    for (std::size_t good = 0; good <= text.size(); ++good)
        for (std::size_t block : {std::size_t{1}, std::size_t{3}, std::size_t{8}, obj_block_size})
            EXPECT_EQ(read_failing(text, good, block), "cannot read t.obj: Input/output error")
                << good << " bytes, block " << block;

    // A bad line before the failure has decided the outcome already.
    const std::string bad = "v 0 0 0\nv 1\nv 0 0 0\n";
    for (std::size_t block : {std::size_t{1}, std::size_t{5}, obj_block_size})
        EXPECT_EQ(read_failing(bad, bad.size() - 1, block), "t.obj:2: vertex line needs three numbers") << block;
}
