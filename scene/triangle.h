#pragma once

#include "mesh/face.h"
#include "scene/object.h"

// A flat, one-sided triangle. The constructor precomputes everything a ray
// test needs, leaving a plane intersection and a 2x2 barycentric solve.
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

    explicit triangle(face f);

    int get_type() const override { return 2; }
    int intersect(const ray& r, float& distance) override;
    vector3 get_normal(const vector3& point) const override;
};

// Defined here so that the hierarchy's leaves, which call it by name, get
// it inlined: it is the innermost loop of the render.
inline int triangle::intersect(const ray& r, float& distance) {
    // Back faces and rays parallel to the plane never hit; these exits come
    // before any barycentric work because this is the innermost loop.
    const float den = dot(normal, r.direction);
    if (den >= 0.0f) return hit_none;

    const float t = (offset - dot(normal, r.origin)) / den;
    if (!(t < distance)) return hit_none;
    if (!(t > 0.0f)) return hit_none;

    const vector3 p = r.origin + r.direction * t;
    const vector3 w = p - vertex[0];

    // Coordinates of p in the frame of the two edges, solved in double so
    // that thin triangles keep their accuracy.
    const double det = static_cast<double>(dot11) * dot22 - static_cast<double>(dot12) * dot12;
    const float a = dot(w, edge1);
    const float b = dot(w, edge2);
    const float u = static_cast<float>((static_cast<double>(a) * dot22 - static_cast<double>(b) * dot12) / det);
    const float v = static_cast<float>((static_cast<double>(b) * dot11 - static_cast<double>(a) * dot12) / det);

    // Strictly inside only: edges and corners belong to no triangle.
    if (!(u > 0.0f && v > 0.0f && u < 1.0f && v < 1.0f)) return hit_none;
    if (!(static_cast<double>(u) + static_cast<double>(v) < 1.0)) return hit_none;

    distance = t;
    return hit_outside;
}
