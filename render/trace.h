#pragma once

#include "math/ray.h"
#include "math/vector3.h"
#include "scene/object.h"
#include "scene/scene.h"

// Follows `r` through `s` and adds the colour it carries into *accumulator.
// *depth and *weight are shared by the whole chain of one primary ray: each
// reflection raises the counter and scales the weight, and neither is ever
// restored. `medium_index` is the refraction index of the medium the ray
// travels in. Returns the struck object, or null when nothing was struck or
// the chain has gone past `max_depth` reflections.
object* trace_ray(scene* s, int* depth, int max_depth, float* weight, vector3* accumulator,
                  float medium_index, const ray& r);

// The same, with the ray by value. The render loop calls trace_ray: a ray
// built field by field and then copied whole as an argument makes the copy
// wait for the fields' stores, a stall as long as a whole triangle test.
inline object* trace(scene* s, int* depth, int max_depth, float* weight, vector3* accumulator,
                     float medium_index, ray r) {
    return trace_ray(s, depth, max_depth, weight, accumulator, medium_index, r);
}
