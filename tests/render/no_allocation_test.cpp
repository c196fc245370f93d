// The pixel loop and the tracer allocate nothing: every global operator new
// of this test binary is counted, and rendering rows of a scene with every
// kind of object (a mesh model, mirrors, refraction) must not move the count.

#include "app/image.h"
#include "mesh/load_obj.h"
#include "render/camera.h"
#include "render/render.h"
#include "scene/model.h"
#include "scene/plane.h"
#include "scene/sphere.h"
#include "tests/support/test_scene.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {
std::atomic<long> allocations{0};

// Out of line, so that the compiler does not pair a free() it can see with
// the operator new it came from.
[[gnu::noinline]] void release(void* p) noexcept { std::free(p); }
}  // namespace

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }

TEST(render_allocation, tracing_rows_of_every_kind_of_object_allocates_nothing) {
    // A small closed mesh (a tetrahedron) in front of the camera.
    const char obj[] =
        "v -0.60 0.040 0.0\nv -0.55 0.040 0.05\nv -0.55 0.040 -0.05\nv -0.57 0.090 0.0\n"
        "f 1 3 2\nf 1 2 4\nf 2 3 4\nf 3 1 4\n";
    mesh* loaded = new mesh;
    std::string error;
    ASSERT_TRUE(parse_obj(obj, std::strlen(obj), "tetrahedron.obj", loaded, &error)) << error;
    model bunny(loaded);
    bunny.color = {0.0f, 1.0f, 1.0f};
    bunny.specular = {0.7f, 0.7f, 0.7f};
    bunny.specular_power = 70.0f;

    plane floor;
    floor.normal = {0.0f, 1.0f, 0.0f};
    floor.offset = 170.0f;
    floor.color = {0.05f, 0.02f, 0.65f};
    floor.reflection = 0.6f;

    sphere glass;
    glass.centre = {-2000.0f, 400.0f, 300.0f};
    glass.radius = 150.0f;
    glass.color = {0.2f, 0.2f, 0.2f};
    glass.refraction_index = 1.5f;

    light lamp{{0.94f, 0.94f, 0.737f}, {-2000.0f, 1500.0f, -3000.0f}};
    test_scene scene_under_test({&bunny, &floor, &glass}, {&lamp});

    const camera cam = setup_camera();
    const long before = allocations.load();
    static float rows[image_height][image_width * 3];
    for (int y = 0; y < image_height; y += 7) render_row(scene_under_test.get(), cam, y, rows[y]);
    EXPECT_EQ(allocations.load() - before, 0);

    // The rows did see the objects: the count above is not from an empty picture.
    bool lit = false;
    for (int y = 0; y < image_height && !lit; y += 7)
        for (int x = 0; x < image_width && !lit; ++x) lit = rows[y][3 * x + 2] > 0.0f;
    EXPECT_TRUE(lit);
}
