#include "app/output.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Control characters in names become \xHH, each byte of them; everything
// else, other UTF-8 included, stays as it was.
TEST(output, printable_shows_control_characters_and_nothing_else_as_hex) {
    struct sample {
        std::string text, shown;
    };
    const sample samples[] = {
        {"cannot open bunny.obj: No such file or directory", "cannot open bunny.obj: No such file or directory"},
        {"C:\\meshes\\lapin \xc3\xa9t\xc3\xa9 \xc2\xa0~.obj", "C:\\meshes\\lapin \xc3\xa9t\xc3\xa9 \xc2\xa0~.obj"},
        {"two\nlines\r", "two\\x0alines\\x0d"},
        {"\x1b[31mred\x1b]0;title\x07", "\\x1b[31mred\\x1b]0;title\\x07"},
        {std::string("nul\0tab\tdel\x7f", 12), "nul\\x00tab\\x09del\\x7f"},
        {"csi \xc2\x9b" "2J, next line \xc2\x85", "csi \\xc2\\x9b2J, next line \\xc2\\x85"},
        {"lone \xc2", "lone \xc2"},
        {"", ""},
    };
    for (const sample& s : samples) EXPECT_EQ(printable(s.text), s.shown) << s.text;
}

}  // namespace
