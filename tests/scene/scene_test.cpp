#include "scene/scene.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "scene/plane.h"
#include "scene/sphere.h"
#include "scene/triangle.h"

namespace {

// An object kind that records its own destruction and owns a buffer of its
// own, the way a model owns its triangles: freeing it through an `object`
// pointer must reach this destructor (LeakSanitizer checks the buffer).
class counted : public object {
public:
    explicit counted(std::vector<int>& log, int id) : log_(log), id_(id), owned_(new float[64]) {}
    ~counted() override {
        delete[] owned_;
        log_.push_back(id_);
    }
    int get_type() const override { return 7; }
    int intersect(const ray&, float&) override { return hit_none; }
    vector3 get_normal(const vector3&) const override { return {0.0f, 1.0f, 0.0f}; }

private:
    std::vector<int>& log_;
    int id_;
    float* owned_;
};

TEST(destroy_scene, frees_every_object_in_order_skipping_null_entries) {
    std::vector<int> destroyed;
    scene s;
    s.object_count = 4;
    s.objects = new object*[4]{new counted(destroyed, 0), nullptr, new counted(destroyed, 2), new counted(destroyed, 3)};
    s.light_count = 3;
    s.lights = new light*[3]{new light{}, nullptr, new light{{1, 1, 1}, {0, 5, 0}}};

    destroy_scene(&s);

    EXPECT_EQ(destroyed, (std::vector<int>{0, 2, 3}));
    // The record's own fields stay as they were; its owner frees it.
    EXPECT_EQ(s.object_count, 4);
    EXPECT_EQ(s.light_count, 3);
}

TEST(destroy_scene, empty_arrays_and_missing_arrays_are_both_fine) {
    scene empty_arrays;
    empty_arrays.objects = new object*[0];
    empty_arrays.lights = new light*[0];
    destroy_scene(&empty_arrays);  // frees just the two arrays

    scene fresh;  // as main creates it: counts 0, no arrays at all
    destroy_scene(&fresh);
    EXPECT_EQ(fresh.objects, nullptr);
    EXPECT_EQ(fresh.lights, nullptr);

    destroy_scene(nullptr);
}

// The kind codes of the object interface: sphere 0, plane 1, triangle 2
// (the model's 0 is checked with the model).
TEST(object_kinds, answer_their_kind_codes) {
    const sphere ball;
    const plane floor;
    const triangle flat(face{{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 0, 1}});
    const std::pair<const object*, int> kinds[] = {{&ball, 0}, {&floor, 1}, {&flat, 2}};
    for (const auto& [o, code] : kinds) EXPECT_EQ(o->get_type(), code);
}

}  // namespace
