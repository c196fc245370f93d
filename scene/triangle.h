#pragma once

#include "mesh/face.h"
#include "ray_triangle/intersect.h"
#include "ray_triangle/setup.h"
#include "scene/object.h"

// A flat, one-sided triangle. The constructor precomputes everything a ray
// test needs, leaving a plane intersection and a 2x2 barycentric solve, or
// for slivers the double-precision test (ray_triangle/). Its fields are
// the setup's (ray_triangle/setup.h): vertex, normal (unit length; the
// front is the side it points to), offset, edges, their dot products,
// kind, and the double plane of a sliver.
class triangle : public object, public triangle_setup {
public:
    explicit triangle(face f);

    int get_type() const override { return 2; }
    int intersect(const ray& r, float& distance) override { return intersect_prepared(*this, r, distance); }
    vector3 get_normal(const vector3& point) const override;
};
