// Running out of memory while the scene is built (its records, the mesh's,
// the model) is reported in one line and leaves a scene that frees whole:
// each of build_scene's allocations fails in turn. The loader's own are
// left to the loaders' tests; the model's are failed on their own in
// tests/scene/model_out_of_memory_test.cpp too.

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>

#include "mesh/load_mesh.h"
#include "scene/model.h"
#include "scene/scene.h"
#include "tests/support/current_scene.h"
#include "tests/support/failing_allocations.h"
#include "tests/support/files.h"
#include "tests/support/small_grid.h"
#include "world/build_scene.h"

namespace {

constexpr long count_only = std::numeric_limits<long>::max();

struct attempt {
    bool built = false;
    bool threw = false;
    long made = 0;         // allocations build_scene made
    char error[256] = "";  // no heap block of its own
    int triangles = -1;    // the model's, or -1 for none
    long leaked = 0;       // heap blocks left once the scene is gone
};

// Builds a fresh scene over `path` with allocation `k` failing, then
// destroys it and counts what is left.
attempt build_failing_at(const std::string& path, long k) {
    attempt a;
    const long before = failing_allocations::live.load();
    {
        scene s;
        std::string error;
        current_scene_guard current(&s);
        testing::internal::CaptureStdout();
        {
            failing_allocations::armed failing(k);
            try {
                a.built = build_scene(path.c_str(), &error);
            } catch (...) {  // build_scene promises never to throw
                a.threw = true;
            }
            a.made = failing_allocations::made.load();
        }
        std::fflush(stdout);
        testing::internal::GetCapturedStdout();
        if (s.object_count == 2 && s.objects[0] != nullptr) a.triangles = static_cast<model*>(s.objects[0])->triangle_count;
        std::snprintf(a.error, sizeof a.error, "%s", error.c_str());
        destroy_scene(&s);
    }
    a.leaked = failing_allocations::live.load() - before;
    return a;
}

// How many allocations loading `path` makes.
long loader_allocations(const std::string& path) {
    mesh m;
    std::string error;
    testing::internal::CaptureStdout();
    failing_allocations::armed counting(count_only);
    EXPECT_TRUE(load_mesh_file(path.c_str(), &m, &error)) << error;
    const long made = failing_allocations::made.load();
    std::fflush(stdout);
    testing::internal::GetCapturedStdout();
    release_mesh(&m);
    return made;
}

}  // namespace

TEST(build_scene_out_of_memory, each_failed_allocation_is_reported_and_leaks_nothing) {
    const std::string path = write_temp_file("small_grid.obj", small_grid_obj());
    // A first build warms what lives on for the process (the output's
    // buffer, a thread's scratch list); the second counts the allocations:
    // the scene's four records, the mesh's record, the loader's, then the
    // model's.
    build_failing_at(path, count_only);
    const attempt whole = build_failing_at(path, count_only);
    ASSERT_TRUE(whole.built) << whole.error;
    ASSERT_EQ(whole.triangles, small_grid_triangles);
    const long loader_first = 5, loader = loader_allocations(path);
    ASSERT_EQ(loader, loader_allocations(path));
    ASSERT_GT(whole.made, loader_first + loader + 10);

    for (long k = 0; k < whole.made; ++k) {
        if (k >= loader_first && k < loader_first + loader) continue;
        const attempt a = build_failing_at(path, k);
        EXPECT_FALSE(a.threw) << "allocation " << k;
        EXPECT_FALSE(a.built) << "allocation " << k;
        EXPECT_EQ(a.leaked, 0) << "allocation " << k << ": " << a.error;
        EXPECT_NE(std::string(a.error).find("out of memory"), std::string::npos) << "allocation " << k << ": " << a.error;
        EXPECT_EQ(a.triangles, -1) << "allocation " << k;
    }
}
