#include "mesh/load_obj.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<std::string> files_in(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

std::string read_all(const std::string& path) {
    std::string text;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char chunk[4096];
        std::size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, got);
        std::fclose(f);
    }
    return text;
}

}  // namespace

// The fuzzer's seeds, and every input it ever crashed on (kept in
// tests/fuzz/regressions): seeds named valid_* load, bad_* are rejected
// with a "NAME:LINE: ..." message, and nothing may crash.
TEST(fuzz_inputs, seeds_and_regressions_load_or_are_rejected_cleanly) {
    const std::string root = std::string(RT_SOURCE_DIR) + "/tests/fuzz/";
    int seen = 0;
    for (const char* folder : {"corpus", "regressions"}) {
        for (const std::string& name : files_in(root + folder)) {
            const std::string text = read_all(root + folder + "/" + name);
            mesh m;
            std::string error;
            const bool ok = parse_obj(text.data(), text.size(), name.c_str(), &m, &error);
            if (ok) release_mesh(&m);
            if (name.rfind("valid_", 0) == 0) {
                EXPECT_TRUE(ok) << name << ": " << error;
            }
            if (name.rfind("bad_", 0) == 0) {
                EXPECT_FALSE(ok) << name;
                EXPECT_EQ(error.rfind(name + ":", 0), 0u) << error;
            }
            ++seen;
        }
    }
    EXPECT_GE(seen, 19);
}
