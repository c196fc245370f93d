// mesh/obj/number.h and .cpp: coordinates read exactly as strtof reads
// them, by the decimal shortcut and by the general reader, whole or fed in
// parts.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "mesh/obj/load_obj.h"
#include "mesh/obj/number.h"
#include "tests/support/obj_outcome.h"
#include "tests/support/parse_every_way.h"

TEST(number, floats_match_strtof_bit_for_bit) {
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

TEST(number, words_longer_than_a_block_read_as_strtof_reads_them) {
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

namespace {

// What strtof makes of the whole word: false if it is not all a number.
bool strtof_whole(const std::string& word, float* out) {
    char* stop = nullptr;
    *out = std::strtof(word.c_str(), &stop);
    return !word.empty() && *stop == '\0';
}

bool same_float(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

TEST(number, both_readers_give_strtofs_bits_whole_and_in_parts) {
    // Random words of every form the shortcut takes and of forms only the
    // general reader takes (many digits, large exponents, hexadecimal),
    // and words exactly halfway between two floats, which the shortcut
    // passes on. The general reader also gets each word cut in two at a
    // random place.
    std::mt19937_64 rng(11);
    int shortcut = 0, halfway_passed_on = 0;
    for (int i = 0; i < 200000; ++i) {
        std::string word;
        const int form = i % 8;
        if (form == 6) {
            // An odd 25-bit integer times 2^k, written exactly in at most
            // 19 digits.
            const std::uint64_t odd = (std::uint64_t{1} << 24) | (rng() % (1u << 24)) | 1;
            const int k = static_cast<int>(rng() % 41) - 12;
            std::uint64_t digits = k >= 0 ? odd << k : odd;
            for (int j = k; j < 0; ++j) digits *= 5;
            word = std::to_string(digits);
            if (k < 0) word.insert(word.size() + static_cast<std::size_t>(k), ".");
        } else if (form == 7) {
            char text[64];
            std::snprintf(text, sizeof text, "%a", static_cast<double>(rng() % 100000) * 1e-3);
            word = text;
        } else {
            word = rng() % 2 ? "-" : "";
            const int digits = 1 + static_cast<int>(rng() % 24), point = static_cast<int>(rng() % (digits + 1));
            for (int k = 0; k < digits; ++k) word += (k == point ? "." : "") + std::to_string(rng() % 10);
            if (rng() % 3 == 0) word += "e" + std::to_string(static_cast<int>(rng() % 90) - 45);
        }
        float expected = 0.0f;
        const bool number = strtof_whole(word, &expected) && std::isfinite(expected);

        float got = 0.0f;
        const char* stop = nullptr;
        if (obj::read_decimal(word.data(), word.data() + word.size(), &got, &stop)) {
            ++shortcut;
            ASSERT_TRUE(number && same_float(got, expected) && stop == word.data() + word.size()) << word;
        } else if (form == 6) {
            ++halfway_passed_on;
        }
        const std::size_t cut = rng() % (word.size() + 1);
        obj::number_reader reader;
        reader.add(word.data(), word.data() + cut);
        reader.add(word.data() + cut, word.data() + word.size());
        const obj::number_status status = reader.finish(&got);
        ASSERT_EQ(status == obj::number_status::ok, number) << word;
        if (number) {
            ASSERT_TRUE(same_float(got, expected)) << word;
        }
    }
    EXPECT_GT(shortcut, 50000);
    EXPECT_EQ(halfway_passed_on, 200000 / 8);
}

TEST(number, the_shortcut_passes_on_decimals_whose_double_lands_on_a_float_halfway_point) {
    // Found with exact rational arithmetic: each lies just above or below
    // a point halfway between two floats, within half a double's ulp, so
    // its double is that point and rounding it again to a float would go
    // to the even neighbour, not to the side the exact value lies on.
    const char* const words[] = {
        "891.7949523925781",     "0.05549870617687702",     "0.04590840823948383",    "0.7040755450725555",
        "0.000001074504154985334", "0.00005714134931622539", "20.62888240814209",      "0.0005769866693299264",
        "0.000004447769470061758", "5.327418088912964",      "204.2853012084961",      "8.52817964553833",
    };
    for (const std::string word : words) {
        float expected = 0.0f;
        ASSERT_TRUE(strtof_whole(word, &expected)) << word;
        const obj_outcome o = parse_outcome("v " + word + " 0 0\n");
        ASSERT_TRUE(o.ok) << o.error;
        EXPECT_TRUE(same_float(o.vertices[0].x, expected * mesh_scale)) << word;
    }
}

TEST(number, a_coordinate_too_large_to_scale_names_the_scale) {
    // The largest float, written in full, times the scale: too large
    // whatever the scale is, and the message says by how much it scales.
    std::ostringstream scale, word;
    scale << mesh_scale;
    word.precision(9);
    word << std::numeric_limits<float>::max();
    const obj_outcome o = parse_every_way("v 0 " + word.str() + " 0\n");
    EXPECT_EQ(o.error, "t.obj:1: '" + word.str() + "' is too large to scale by " + scale.str());
}
