// A model whose build runs out of memory, at any of its allocations in
// turn, throws std::bad_alloc and frees everything it had, the mesh it was
// handed included (the sanitizer run checks the same under LeakSanitizer).

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>

#include "mesh/obj/load_obj.h"
#include "scene/model.h"
#include "tests/support/failing_allocations.h"
#include "tests/support/small_grid.h"

namespace {

struct attempt {
    bool reached = false;  // the allocation to fail was made
    bool threw = false;
    long leaked = 0;       // heap blocks left once everything is gone
};

attempt build_failing_at(const std::string& text, long k, bvh_method method) {
    attempt a;
    const long before = failing_allocations::live.load();
    {
        owned_mesh loaded(new mesh);
        std::string error;
        EXPECT_TRUE(parse_obj(text.data(), text.size(), "grid.obj", loaded.get(), &error)) << error;
        failing_allocations::armed failing(k);
        try {
            // The model's own record first, then everything it builds.
            const std::unique_ptr<model> built(new model(std::move(loaded), method));
            EXPECT_EQ(built->triangle_count, small_grid_triangles);
            if (method == bvh_method::morton) {
                EXPECT_EQ(built->hierarchy.triangles.size(), static_cast<std::size_t>(small_grid_triangles));
            } else {
                EXPECT_FALSE(built->hierarchy.packets.empty());
                EXPECT_FALSE(built->hierarchy.slivers.empty());
            }
        } catch (const std::bad_alloc&) {
            a.threw = true;
        }
        a.reached = failing.reached(k);
    }
    a.leaked = failing_allocations::live.load() - before;
    return a;
}

}  // namespace

TEST(model_out_of_memory, each_failed_allocation_throws_and_frees_the_mesh_and_all_built) {
    const std::string text = small_grid_obj();
    for (bvh_method method : {bvh_method::surface_area, bvh_method::morton}) {
        SCOPED_TRACE(method == bvh_method::morton ? "Morton order" : "surface area heuristic");
        // A first build warms what lives on for the process (a thread's
        // scratch list).
        ASSERT_FALSE(build_failing_at(text, -1, method).threw);
        long k = 0;
        for (;; ++k) {
            const attempt a = build_failing_at(text, k, method);
            EXPECT_EQ(a.leaked, 0) << "allocation " << k;
            if (!a.reached) break;  // the build made fewer allocations
            EXPECT_TRUE(a.threw) << "allocation " << k;
        }
        EXPECT_GT(k, 4);  // the model, the hierarchy's arrays, the sphere
    }
}
