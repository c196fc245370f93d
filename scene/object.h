#pragma once

#include "math/hit_code.h"
#include "math/ray.h"
#include "math/vector3.h"
#include "scene/surface_tolerance.h"

// The one class hierarchy of the scene: sphere, plane, triangle and model.
// Every object carries its material ahead of its own geometry; the creator
// assigns the material right after construction.
class object {
public:
    vector3 color;
    vector3 specular;
    float reflection = 0.0f;
    float specular_power = 0.0f;
    float refraction_index = 0.0f;

    object() = default;
    object(const object&) = delete;
    object& operator=(const object&) = delete;
    virtual ~object() = default;

    // Kind code: sphere 0, plane 1, triangle 2; a model answers 0 as well.
    virtual int get_type() const = 0;

    // Reports a hit only when it lies strictly nearer than `distance`; then
    // lowers `distance` to it and returns 1 or -1. A miss returns 0 and
    // leaves `distance` alone.
    virtual int intersect(const ray& r, float& distance) = 0;

    // The unit surface normal at the point of the latest reported hit.
    virtual vector3 get_normal(const vector3& point) const = 0;

    // What the shadow rays from `point`, the latest reported hit computed in
    // float, need to allow for the rounding of the surface struck
    // (surface_tolerance.h). Nothing unless a kind says otherwise: a plane
    // or a sphere has no copy of itself in any scene of this program.
    virtual surface_hit surface_of_hit(const vector3& point) const {
        (void)point;
        return {};
    }
};
