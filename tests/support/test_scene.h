#pragma once

#include "scene/light.h"
#include "scene/object.h"
#include "scene/scene.h"

#include <initializer_list>
#include <vector>

// A scene over objects and lights the test owns; it is never destroyed
// through destroy_scene.
struct test_scene {
    std::vector<object*> objects;
    std::vector<light*> lights;
    scene s;

    test_scene(std::initializer_list<object*> o, std::initializer_list<light*> l = {})
        : objects(o), lights(l) {
        s.object_count = static_cast<int>(objects.size());
        s.light_count = static_cast<int>(lights.size());
        s.objects = objects.data();
        s.lights = lights.data();
    }
    scene* get() { return &s; }
};

// A scripted surface: it reports a hit at `at` with `code` for rays that
// start exactly at `from` (or any ray, with `from_anywhere`), answers
// `normal`, and records the rays it is asked about.
class stub_surface : public object {
public:
    vector3 from;
    bool from_anywhere = false;
    bool solid = true;
    float at = 10.0f;
    int code = hit_outside;
    vector3 normal{0.0f, 1.0f, 0.0f};

    int calls = 0;
    ray first{};
    ray last{};

    int get_type() const override { return 0; }
    int intersect(const ray& r, float& distance) override {
        if (calls == 0) first = r;
        ++calls;
        last = r;
        if (!solid) return hit_none;
        if (!from_anywhere && !(r.origin == from)) return hit_none;
        if (!(at < distance)) return hit_none;
        distance = at;
        return code;
    }
    vector3 get_normal(const vector3&) const override { return normal; }
};

// Sees every ray of a scene and blocks none.
inline stub_surface* make_recorder(stub_surface& s) {
    s.solid = false;
    return &s;
}
