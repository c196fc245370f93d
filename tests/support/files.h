#pragma once

// Files the tests read from the source tree and write to the test's
// scratch folder.

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

// A path below the root of the sources.
inline std::string source_path(const std::string& relative) { return std::string(RT_SOURCE_DIR) + "/" + relative; }

// The whole file, or "" if it cannot be read.
inline std::string read_file(const std::string& path) {
    std::string text;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char chunk[1 << 16];
        std::size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, got);
        std::fclose(f);
    }
    return text;
}

// Writes `text` to `name` in the scratch folder and returns its path. The
// name carries the process id: ctest may run several test processes at once
// over the same folder.
inline std::string write_temp_file(const std::string& name, const std::string& text) {
    const std::string path = testing::TempDir() + std::to_string(getpid()) + "_" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr) << path;
    if (f) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    return path;
}

// The names in a folder, hidden ones aside; none if it does not exist.
inline std::vector<std::string> names_in(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}
