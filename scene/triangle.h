#pragma once

#include "mesh/face.h"
#include "scene/object.h"
#include "scene/ray_triangle.h"

// A flat, one-sided triangle. The constructor precomputes everything a ray
// test needs, leaving a plane intersection and a 2x2 barycentric solve, or
// for slivers the double-precision test (ray_triangle.h).
class triangle : public object {
public:
    vector3 vertex[3];
    vector3 normal;   // unit length; the front is the side it points to
    float offset = 0.0f;
    vector3 edge1;
    vector3 edge2;
    float dot11 = 0.0f;
    float dot22 = 0.0f;
    float dot12 = 0.0f;
    triangle_kind kind = triangle_kind::degenerate;
    double3 plane;  // slivers only

    explicit triangle(face f);

    int get_type() const override { return 2; }
    int intersect(const ray& r, float& distance) override { return intersect_prepared(*this, r, distance); }
    vector3 get_normal(const vector3& point) const override;
};
