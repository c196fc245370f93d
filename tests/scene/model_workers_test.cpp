#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "mesh/load_obj.h"
#include "scene/model.h"
#include "scene/worker.h"

// The model remembers its latest hit once per worker: threads tracing the
// same model at once must each get the normal of their own hit.

namespace {

// Two triangles at z = 0: one facing +z, one (wound the other way, shifted
// in x) facing -z, so their normals tell them apart.
std::unique_ptr<model> two_facing_triangles() {
    const std::string text =
        "v -0.002 -0.002 0\nv 0.002 -0.002 0\nv 0 0.002 0\n"
        "v 0.006 -0.002 0\nv 0.01 -0.002 0\nv 0.008 0.002 0\n"
        "f 1 2 3\nf 4 6 5\n";
    mesh* m = new mesh;
    std::string error;
    EXPECT_TRUE(parse_obj(text.data(), text.size(), "t.obj", m, &error)) << error;
    return std::make_unique<model>(m);
}

const ray from_above{{0.0f, 0.0f, 20.0f}, {0.0f, 0.0f, -1.0f}};   // meets triangle 0
const ray from_below{{40.0f, 0.0f, -20.0f}, {0.0f, 0.0f, 1.0f}};  // meets triangle 1

// Restores the main thread's worker number however a test ends.
struct as_worker {
    explicit as_worker(int w) { current_worker = w; }
    ~as_worker() { current_worker = 0; }
};

}  // namespace

TEST(model_workers, each_worker_keeps_its_own_last_hit) {
    auto m = two_facing_triangles();
    {
        as_worker one(1);
        float distance = 150000.0f;
        ASSERT_EQ(m->intersect(from_below, distance), 1);
        EXPECT_EQ(m->recorded_hit(), 1);
    }
    EXPECT_EQ(m->recorded_hit(), -1);  // worker 0 has hit nothing yet
    float distance = 150000.0f;
    ASSERT_EQ(m->intersect(from_above, distance), 1);
    EXPECT_EQ(m->get_normal({}), (vector3{0.0f, 0.0f, 1.0f}));

    as_worker one(1);
    EXPECT_EQ(m->recorded_hit(), 1);
    EXPECT_EQ(m->get_normal({}), (vector3{0.0f, 0.0f, -1.0f}));
}

// Workers hammer one model at the same time, each checking that the normal
// it gets back belongs to its own latest hit. Under ThreadSanitizer this is
// also the check that they share no memory.
TEST(model_workers, concurrent_workers_never_see_each_others_hits) {
    auto m = two_facing_triangles();
    constexpr int workers = 4;
    std::vector<int> wrong(workers, 0);
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            current_worker = w + 1;
            for (int k = 0; k < 20000; ++k) {
                const bool above = (k + w) % 2 == 0;
                float distance = 150000.0f;
                if (m->intersect(above ? from_above : from_below, distance) != 1) ++wrong[w];
                if (!(m->get_normal({}) == vector3{0.0f, 0.0f, above ? 1.0f : -1.0f})) ++wrong[w];
            }
        });
    }
    for (std::thread& t : threads) t.join();
    for (int w = 0; w < workers; ++w) EXPECT_EQ(wrong[w], 0) << "worker " << w + 1;
}
