#pragma once

#include "math/hit_code.h"
#include "math/ray.h"
#include "math/vector3.h"

// The single-precision test, on any record that carries the precomputed
// fields under their names (normal, offset, vertex[0], edge1, edge2, dot11,
// dot22, dot12). Defined here so that it inlines: it is the innermost loop.
template <typename record>
inline int intersect_regular(const record& g, const ray& r, float& distance) {
    // Back faces and rays parallel to the plane never hit; these exits come
    // before any barycentric work.
    const float den = dot(g.normal, r.direction);
    if (den >= 0.0f) return hit_none;

    const float t = (g.offset - dot(g.normal, r.origin)) / den;
    if (!(t < distance)) return hit_none;
    if (!(t > 0.0f)) return hit_none;

    const vector3 p = r.origin + r.direction * t;
    const vector3 w = p - g.vertex[0];

    // Coordinates of p in the frame of the two edges, solved in double from
    // the single-precision dot products.
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
