#pragma once

#include "scene/object.h"

// A sphere; stands in scenes and bounds a model's mesh. Roots at or below
// 0.1 are never taken, so a ray leaving the surface does not meet it again.
class sphere : public object {
public:
    vector3 centre;
    float radius = 0.0f;

    int get_type() const override { return 0; }
    int intersect(const ray& r, float& distance) override;
    vector3 get_normal(const vector3& point) const override;
};
