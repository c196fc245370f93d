#pragma once

// The default mesh, assets/bunny.obj.

#include <gtest/gtest.h>

#include <string>

#include "mesh/obj/load_obj.h"
#include "tests/support/files.h"

inline std::string bunny_obj_path() { return source_path("assets/bunny.obj"); }

// The bunny as the loader makes it; release_mesh frees it.
inline mesh parse_bunny() {
    const std::string text = read_file(bunny_obj_path());
    mesh m;
    std::string error;
    EXPECT_TRUE(parse_obj(text.data(), text.size(), "bunny.obj", &m, &error)) << error;
    return m;
}
