#pragma once

// One text parsed every way the loader can cut it, which must not change
// what it makes of the text.

#include <gtest/gtest.h>

#include <string>

#include "tests/support/obj_outcome.h"

// The text in one block on one thread, then cut into blocks of 1 to 9 bytes
// (lines longer than a block are read in pieces) and parsed on three
// threads: every way must give the same result, which is returned.
inline obj_outcome parse_every_way(const std::string& text, const char* name = "t.obj") {
    const obj_outcome whole = parse_outcome(text.data(), text.size(), name, obj_block_size, 1);
    for (std::size_t block = 1; block <= 9; ++block) {
        const obj_outcome cut = parse_outcome(text.data(), text.size(), name, block, 3);
        EXPECT_TRUE(cut == whole) << "block " << block << ": " << cut.error << " / " << whole.error << "\n" << text;
    }
    return whole;
}
