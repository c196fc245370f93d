#pragma once

#include "scene/object.h"

// The one-sided plane dot(normal, P) = offset; only rays travelling against
// `normal` hit it. `normal` need not be of unit length.
class plane : public object {
public:
    vector3 normal;
    float offset = 0.0f;

    int get_type() const override { return 1; }
    int intersect(const ray& r, float& distance) override;
    // Ray by ray, without a virtual call each.
    void intersect_packet(const ray_packet& rays, unsigned active, float* distances, int* codes, hit_record* hits) override;
    unsigned occluded_packet(const ray_packet& rays, unsigned active, const float* distances) override;
    vector3 get_normal(const vector3& point) const override;
};
