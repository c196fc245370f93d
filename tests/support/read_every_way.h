#pragma once

// One file read every way a reader can read it, which must not change
// what it makes of the file.

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "tests/support/read_outcome.h"

// Reads `data` in place, then every other way with each of `cuts`;
// returns the in-place outcome.
inline obj_outcome read_every_way(memory_parser parse, const std::string& data, const char* name = "t",
                                  const std::vector<std::size_t>& cuts = {1, 2, 3, 4}) {
    const obj_outcome in_place = read_outcome(parse, data, name);
    EXPECT_TRUE(in_place.ok || in_place.left_alone) << in_place.error;
    for (const std::size_t cut : cuts) {
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

// The cuts the fuzz targets use for `data`, with those above.
inline std::vector<std::size_t> fuzz_cuts(const std::string& data) {
    return {1, 2, 3, 4, 1 + (data.empty() ? 0u : static_cast<unsigned char>(data.back()) % 64u)};
}
