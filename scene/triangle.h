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

// The ray test itself, on any record that carries the triangle's
// precomputed fields under their names (normal, offset, vertex[0], edge1,
// edge2, dot11, dot22, dot12): the triangle, or the hierarchy's compact copy
// of it (bvh.h), so that both answer with the very same arithmetic. Defined
// here so that it is inlined: it is the innermost loop of the render.
template <typename record>
inline int intersect_triangle(const record& g, const ray& r, float& distance) {
    // Back faces and rays parallel to the plane never hit; these exits come
    // before any barycentric work because this is the innermost loop.
    const float den = dot(g.normal, r.direction);
    if (den >= 0.0f) return hit_none;

    const float t = (g.offset - dot(g.normal, r.origin)) / den;
    if (!(t < distance)) return hit_none;
    if (!(t > 0.0f)) return hit_none;

    const vector3 p = r.origin + r.direction * t;
    const vector3 w = p - g.vertex[0];

    // Coordinates of p in the frame of the two edges, solved in double so
    // that thin triangles keep their accuracy.
    const double det = static_cast<double>(g.dot11) * g.dot22 - static_cast<double>(g.dot12) * g.dot12;
    const float a = dot(w, g.edge1);
    const float b = dot(w, g.edge2);
    const float u = static_cast<float>((static_cast<double>(a) * g.dot22 - static_cast<double>(b) * g.dot12) / det);
    const float v = static_cast<float>((static_cast<double>(b) * g.dot11 - static_cast<double>(a) * g.dot12) / det);

    // Strictly inside only: edges and corners belong to no triangle.
    if (!(u > 0.0f && v > 0.0f && u < 1.0f && v < 1.0f)) return hit_none;
    if (!(static_cast<double>(u) + static_cast<double>(v) < 1.0)) return hit_none;

    distance = t;
    return hit_outside;
}

inline int triangle::intersect(const ray& r, float& distance) { return intersect_triangle(*this, r, distance); }
