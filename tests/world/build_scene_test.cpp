#include "world/build_scene.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <limits>
#include <string>

#include "scene/model.h"
#include "scene/plane.h"
#include "scene/scene.h"
#include "tests/support/current_scene.h"
#include "tests/support/expect_vector.h"
#include "tests/support/files.h"

namespace {

// An empty scene, current while it lives, freed with all it holds.
struct fresh_scene {
    scene s;
    current_scene_guard current{&s};
    ~fresh_scene() { destroy_scene(&s); }
};

// Builds the current scene and returns what it printed.
std::string build(const char* mesh_path) {
    testing::internal::CaptureStdout();
    if (mesh_path)
        build_scene(mesh_path);
    else
        build_scene();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

std::string lines(const std::string& loader) {
    return "initialising scene...\n\tloading model\n" + loader +
           "\tfinished loading model\nfinished initialising scene\n\n";
}

// Runs `f` in `dir`, then returns to where it was.
template <typename body>
void in_directory(const std::string& dir, body&& f) {
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    f();
    ASSERT_EQ(chdir(here), 0);
}

}  // namespace

TEST(build_scene, fills_the_fixed_light_objects_and_materials) {
    const std::string path = write_temp_file("small.obj", "v 0 0.04 0\nv 0.01 0.04 0\nv 0 0.05 0\nf 1 2 3\n");
    fresh_scene fresh;
    EXPECT_EQ(build(path.c_str()),
              lines("\t\tfound 3 verts \n\t\tfound 1 faces \n\t\tscaling object: \n\n\n"
                    "\t\tmax y = 250.000000 \n\t\tmin y = 200.000000 \n"
                    "\t\t\tallocated mem\n\t\t\tcalculating normals, v_normals\n"));
    const scene& s = fresh.s;
    ASSERT_EQ(s.light_count, 1);
    EXPECT_VECTOR_FLOAT_EQ(s.lights[0]->color, 0.94f, 0.94f, 0.737f);
    EXPECT_VECTOR_FLOAT_EQ(s.lights[0]->position, -2000.0f, 1500.0f, -3000.0f);

    ASSERT_EQ(s.object_count, 2);
    const model* m = dynamic_cast<const model*>(s.objects[0]);
    const plane* p = dynamic_cast<const plane*>(s.objects[1]);
    ASSERT_NE(m, nullptr);
    ASSERT_NE(p, nullptr);
    // The model carries its own material, not its triangles'.
    EXPECT_VECTOR_FLOAT_EQ(m->color, 0.0f, 1.0f, 1.0f);
    EXPECT_VECTOR_FLOAT_EQ(m->specular, 0.7f, 0.7f, 0.7f);
    EXPECT_EQ(m->reflection, 0.0f);
    EXPECT_EQ(m->specular_power, 70.0f);
    EXPECT_EQ(m->refraction_index, 0.0f);
    EXPECT_EQ(m->triangle_count, 1);

    EXPECT_VECTOR_FLOAT_EQ(p->normal, 0.0f, 1.0f, 0.0f);
    EXPECT_EQ(p->offset, 170.0f);
    EXPECT_VECTOR_FLOAT_EQ(p->color, 0.05f, 0.02f, 0.65f);
    EXPECT_VECTOR_FLOAT_EQ(p->specular, 0.0f, 0.0f, 0.0f);
    EXPECT_FLOAT_EQ(p->reflection, 0.6f);
    EXPECT_EQ(p->specular_power, 500.0f);
    EXPECT_EQ(p->refraction_index, 0.0f);
}

TEST(build_scene, default_bunny_prints_the_thirteen_lines) {
    in_directory(source_path("assets"), [] {
        fresh_scene fresh;
        EXPECT_EQ(build(nullptr),
                  lines("\t\tfound 34835 verts \n\t\tfound 69666 faces \n\t\tscaling object: \n\n\n"
                        "\t\tmax y = 936.679993 \n\t\tmin y = 164.860001 \n"
                        "\t\t\tallocated mem\n\t\t\tcalculating normals, v_normals\n"));
    });
}

TEST(build_scene, a_mesh_that_cannot_be_used_is_reported_not_fatal) {
    const std::string dir = testing::TempDir() + std::to_string(getpid()) + "_no_bunny_here";
    mkdir(dir.c_str(), 0700);
    if (std::FILE* f = std::fopen((dir + "/bad.obj").c_str(), "wb")) {
        std::fputs("v 0 0 0\nv 0 0\n", f);
        std::fclose(f);
    }
    const struct {
        const char* path;
        const char* error;
    } cases[] = {
        {nullptr, "cannot open bunny.obj: No such file or directory"},
        {"bad.obj", "bad.obj:2: vertex line needs three numbers"},
    };
    in_directory(dir, [&] {
        for (const auto& c : cases) {
            fresh_scene fresh;
            std::string error;
            testing::internal::CaptureStdout();
            const bool built = c.path ? build_scene(c.path, &error) : build_scene(&error);
            std::fflush(stdout);
            EXPECT_EQ(testing::internal::GetCapturedStdout(), "initialising scene...\n\tloading model\n");
            EXPECT_FALSE(built);
            EXPECT_EQ(error, c.error);
            ASSERT_EQ(fresh.s.object_count, 2);
            EXPECT_EQ(fresh.s.objects[0], nullptr);
        }
    });
}

TEST(build_scene, a_huge_triangle_gets_a_unit_normal) {
    // Corners a million metres out: the normal's squared length overflows a
    // float unless it is scaled first.
    const std::string path = write_temp_file("huge.obj", "v -1e6 -1e6 1e6\nv 1e6 -1e6 1e6\nv 0 1e6 1e6\nf 1 2 3\n");
    fresh_scene fresh;
    build(path.c_str());
    model* m = dynamic_cast<model*>(fresh.s.objects[0]);
    ASSERT_NE(m, nullptr);
    float distance = std::numeric_limits<float>::infinity();
    ASSERT_EQ(m->intersect(ray{{0.0f, 0.0f, 1e10f}, {0.0f, 0.0f, -1.0f}}, distance), 1);
    EXPECT_VECTOR_FLOAT_EQ(m->get_normal({}), 0.0f, 0.0f, 1.0f);
}
