#include "scene/plane.h"

int plane::intersect(const ray& r, float& distance) {
    const float den = dot(normal, r.direction);
    // Parallel rays and rays travelling along the normal never hit the
    // one-sided plane.
    if (den >= 0.0f) return hit_none;

    const float numerator = -(dot(normal, r.origin) - offset);
    const float t = numerator / den;
    // Both bounds strict: a plane behind the origin, or one the ray starts
    // on, is not in the ray's way.
    if (t > 0.0f && t < distance) {
        distance = t;
        return hit_outside;
    }
    return hit_none;
}

vector3 plane::get_normal(const vector3&) const {
    // The stored normal may have any length; it is never changed.
    return normalize(normal);
}

void plane::intersect_packet(const ray_packet& rays, unsigned active, float* distances, int* codes, hit_record* hits) {
    const vector3 unit = normalize(normal);
    for (; active != 0; active &= active - 1) {
        const int k = __builtin_ctz(active);
        codes[k] = plane::intersect(rays.get(k), distances[k]);
        if (codes[k] != hit_none) hits[k] = {unit, {}};
    }
}

unsigned plane::occluded_packet(const ray_packet& rays, unsigned active, const float* distances) {
    unsigned met = 0;
    for (; active != 0; active &= active - 1) {
        const int k = __builtin_ctz(active);
        float distance = distances[k];
        if (plane::intersect(rays.get(k), distance) != hit_none) met |= 1u << k;
    }
    return met;
}
