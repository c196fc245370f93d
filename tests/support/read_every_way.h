#pragma once

// One file read every way a reader can read it, which must not change
// what it makes of the file.

#include <gtest/gtest.h>

#include <string>

#include "tests/support/read_outcome.h"

// Reads `data` in place, then every other way with pieces of 1 to 4
// bytes; returns the in-place outcome.
inline obj_outcome read_every_way(memory_parser parse, const std::string& data, const char* name = "t") {
    const obj_outcome in_place = read_outcome(parse, data, name);
    EXPECT_TRUE(in_place.ok || in_place.left_alone) << in_place.error;
    for (std::size_t cut = 1; cut <= 4; ++cut) {
        for (const memory_reading& how : other_ways(cut)) {
            const obj_outcome o = read_outcome(parse, data, name, how);
            const std::string way = "piece " + std::to_string(how.piece) + ", block " + std::to_string(how.block) +
                                    (how.size_known ? "" : ", size unknown") + ": " + o.error + " / " + in_place.error;
            if (how.size_known) EXPECT_TRUE(o == in_place) << way;
            else EXPECT_TRUE(o.ok == in_place.ok && (!o.ok || o == in_place)) << way;
            EXPECT_TRUE(o.ok || o.left_alone) << way;
        }
    }
    return in_place;
}
