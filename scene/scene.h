#pragma once

#include "scene/light.h"
#include "scene/object.h"

// Two counted arrays of owning pointers, visited in index order: at equal
// hit distances the earlier object wins, and lights are applied in order.
struct scene {
    int object_count = 0;
    int light_count = 0;
    object** objects = nullptr;
    light** lights = nullptr;
};

// The one scene of the run: set by main, read by build_scene and render.
extern scene* current_scene;

// Frees every object and light the scene owns (null entries are skipped) and
// both arrays; the record itself stays with its owner.
void destroy_scene(scene* s);
