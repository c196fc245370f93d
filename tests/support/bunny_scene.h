#pragma once

// The built-in scene over the default bunny, for tests that render it.

#include <gtest/gtest.h>

#include <vector>

#include "app/image.h"
#include "scene/model.h"
#include "scene/scene.h"
#include "tests/support/bunny.h"
#include "tests/support/current_scene.h"
#include "world/build_scene.h"

// Built as the program builds it for one picture, its loading lines
// swallowed; or with the model's hierarchy built by `method`, for tests
// that mean one tree. (The model's bounding sphere holds every triangle's
// reach box, so it stays right for any tree over the mesh.)
struct bunny_scene {
    scene s;
    explicit bunny_scene(bvh_method method = bvh_method::automatic) {
        current_scene_guard current(&s);
        testing::internal::CaptureStdout();
        build_scene(bunny_obj_path().c_str());
        testing::internal::GetCapturedStdout();
        if (method != bvh_method::automatic) build_bvh(bunny().hierarchy, *bunny().geometry, 0, method);
    }
    ~bunny_scene() { destroy_scene(&s); }
    model& bunny() { return *static_cast<model*>(s.objects[0]); }
};

// What the picture holds now.
inline std::vector<float> picture() { return std::vector<float>(image, image + image_width * image_height * 3); }
