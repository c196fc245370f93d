#include "scene/object.h"

void object::intersect_packet(const ray_packet& rays, unsigned active, float* distances, int* codes, hit_record* hits) {
    for (; active != 0; active &= active - 1) {
        const int k = __builtin_ctz(active);
        const ray r = rays.get(k);
        codes[k] = intersect(r, distances[k]);
        if (codes[k] == hit_none) continue;
        const vector3 point = r.origin + r.direction * distances[k];
        hits[k] = {get_normal(point), surface_of_hit(point)};
    }
}

unsigned object::occluded_packet(const ray_packet& rays, unsigned active, const float* distances) {
    unsigned met = 0;
    for (; active != 0; active &= active - 1) {
        const int k = __builtin_ctz(active);
        float distance = distances[k];
        if (intersect(rays.get(k), distance) != hit_none) met |= 1u << k;
    }
    return met;
}
