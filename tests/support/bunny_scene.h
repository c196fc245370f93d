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

// Built as the program builds it, its loading lines swallowed.
struct bunny_scene {
    scene s;
    bunny_scene() {
        current_scene_guard current(&s);
        testing::internal::CaptureStdout();
        build_scene(bunny_obj_path().c_str());
        testing::internal::GetCapturedStdout();
    }
    ~bunny_scene() { destroy_scene(&s); }
    model& bunny() { return *static_cast<model*>(s.objects[0]); }
};

// What the picture holds now.
inline std::vector<float> picture() { return std::vector<float>(image, image + image_width * image_height * 3); }
