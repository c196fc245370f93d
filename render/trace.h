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

// trace_ray on `count` primary rays at once (at most packet_size), each
// starting its own chain: depth counter 0, weight 1, the colour added into
// accumulators[k]. Every ray's colour is trace_ray's, bit for bit; the
// objects are asked about the rays together (object::intersect_packet):
// the primary rays, then their shadow rays light by light, then the
// reflected rays, step by step. Quickest for rays that travel together.
void trace_packet(scene* s, int max_depth, float medium_index, const ray* rays, int count, vector3* accumulators);
