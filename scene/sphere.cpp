#include "scene/sphere.h"

#include <cmath>

namespace {

// Roots at or below this are never taken: a ray that leaves the surface
// must not meet it again at its own origin.
constexpr float min_distance = 0.1f;

}  // namespace

int sphere::intersect(const ray& r, float& distance) {
    const vector3 v = centre - r.origin;
    const float b = dot(v, r.direction);
    const float disc = b * b - dot(v, v) + radius * radius;
    // A tangent ray (disc exactly 0) still hits.
    if (disc < 0.0f) return hit_none;

    const float s = rounded_sqrt(disc);
    const float near_root = b - s;
    const float far_root = b + s;
    if (near_root > min_distance && near_root < distance) {
        distance = near_root;
        return hit_outside;
    }
    // Only reached when the near root is too close (or too far): the ray
    // starts inside, or enters within the minimum distance.
    if (far_root > min_distance && far_root < distance) {
        distance = far_root;
        return hit_inside;
    }
    return hit_none;
}

vector3 sphere::get_normal(const vector3& point) const {
    return normalize(point - centre);
}
