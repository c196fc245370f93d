// The fuzzers' seeds and every input they ever crashed on, read every way
// and as the fuzzer cut them: valid_* load, bad_* are refused with a
// message naming the file, nothing crashes.

#include <gtest/gtest.h>

#include <string>

#include "mesh/ply/load_ply.h"
#include "mesh/stl/load_stl.h"
#include "tests/support/files.h"
#include "tests/support/read_every_way.h"

TEST(binary_formats, fuzz_inputs_load_or_are_refused_cleanly) {
    const struct {
        const char* format;
        decltype(&parse_ply) parse;
        int at_least;
    } formats[] = {{"ply", parse_ply, 8}, {"stl", parse_stl, 6}};
    for (const auto& f : formats) {
        int seen = 0;
        for (const std::string kind : {"corpus_", "regressions_"}) {
            const std::string folder = source_path("tests/fuzz/" + kind + f.format);
            for (const std::string& name : names_in(folder)) {
                const std::string data = read_file(folder + "/" + name);
                const obj_outcome o = read_every_way(f.parse, data, name.c_str(), fuzz_cuts(data));
                if (name.rfind("valid_", 0) == 0) {
                    EXPECT_TRUE(o.ok) << name << ": " << o.error;
                }
                if (name.rfind("bad_", 0) == 0) {
                    EXPECT_FALSE(o.ok) << name;
                }
                if (!o.ok) {
                    EXPECT_EQ(o.error.rfind(name + ":", 0), 0u) << o.error;
                }
                ++seen;
            }
        }
        EXPECT_GE(seen, f.at_least) << f.format;
    }
}
