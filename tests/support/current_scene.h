#pragma once

// Points current_scene at a scene for as long as the guard lives, then puts
// back whatever was there, however the test ends.

#include "scene/scene.h"

class current_scene_guard {
public:
    explicit current_scene_guard(scene* s) : before_(current_scene) { current_scene = s; }
    ~current_scene_guard() { current_scene = before_; }
    current_scene_guard(const current_scene_guard&) = delete;
    current_scene_guard& operator=(const current_scene_guard&) = delete;

private:
    scene* const before_;
};
