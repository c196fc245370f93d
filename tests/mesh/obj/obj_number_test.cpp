// mesh/obj_number.cpp: coordinates read exactly as strtof reads them, by
// the shortcut for plain decimals and from words fed in pieces.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mesh/obj/load_obj.h"
#include "tests/support/obj_outcome.h"
#include "tests/support/parse_every_way.h"

TEST(obj_number, floats_match_strtof_bit_for_bit) {
    // The shortcut for plain decimals must give exactly what strtof gives,
    // including near halfway cases, many digits and exponents.
    std::mt19937 rng(7);
    std::string text;
    std::vector<std::string> words;
    for (int i = 0; i < 30000; ++i) {
        char w[64];
        const unsigned digits = rng() % 100000000u;
        const int point = static_cast<int>(rng() % 12);
        switch (i % 4) {
        case 0: std::snprintf(w, sizeof w, "%s0.%0*u", rng() % 2 ? "-" : "", point, digits % 1000000u); break;
        case 1: std::snprintf(w, sizeof w, "%u.%u", digits % 17000000u, digits % 1000u); break;
        case 2: std::snprintf(w, sizeof w, "%.9g", static_cast<double>(digits) * 1e-9); break;
        default: std::snprintf(w, sizeof w, "%u.%05ue-%d", digits % 100u, digits % 100000u, point); break;
        }
        words.push_back(w);
        text += std::string("v ") + w + " 0 0\n";
    }
    const obj_outcome o = parse_outcome(text);
    ASSERT_TRUE(o.ok) << o.error;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const float expected = std::strtof(words[i].c_str(), nullptr) * 5000.0f;
        ASSERT_EQ(std::memcmp(&o.vertices[i].x, &expected, sizeof expected), 0) << words[i];
    }
}

TEST(obj_number, words_longer_than_a_block_read_as_strtof_reads_them) {
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
        const obj_outcome o = parse_every_way("v " + word + " 0 0\n");
        char* stop = nullptr;
        const float expected = std::strtof(word.c_str(), &stop) * mesh_scale;
        if (*stop == '\0' && std::isfinite(expected)) {
            ASSERT_TRUE(o.ok) << word << ": " << o.error;
            EXPECT_EQ(std::memcmp(&o.vertices[0].x, &expected, sizeof expected), 0) << word;
        } else {
            EXPECT_FALSE(o.ok) << word;
        }
    }
    const obj_outcome above_halfway = parse_every_way("v 16777217." + zeros + "1 0 0\n");
    ASSERT_TRUE(above_halfway.ok) << above_halfway.error;
    EXPECT_EQ(above_halfway.vertices[0].x, 16777218.0f * mesh_scale);
}
