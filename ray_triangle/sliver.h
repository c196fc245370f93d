#pragma once

#include "math/hit_code.h"
#include "math/ray.h"
#include "math/vector3.h"
#include "ray_triangle/setup.h"

// The double-precision test for slivers: the plane of `plane` (the double
// cross product of the edges) through corner 0, then the point where the
// ray meets it tested against the three edges' half-planes; the distance
// reported is that point's, rounded to float.
// Every quantity comes from the float corners and ray in double, where
// each is exact or within a few units of 2^-53 of exact.
inline int intersect_sliver(const vector3 corner[3], const double3& n, const ray& r, float& distance) {
    const double dx = r.direction.x, dy = r.direction.y, dz = r.direction.z;
    const double den = n.x * dx + n.y * dy + n.z * dz;
    if (!(den < 0.0)) return hit_none;

    const double ox = r.origin.x, oy = r.origin.y, oz = r.origin.z;
    const double wx = corner[0].x - ox, wy = corner[0].y - oy, wz = corner[0].z - oz;
    const double exact = (n.x * wx + n.y * wy + n.z * wz) / den;
    const float t = static_cast<float>(exact);
    if (!(t < distance)) return hit_none;
    if (!(t > 0.0f)) return hit_none;

    // Where the ray meets the plane, and on which side of each edge that
    // lies, seen along the normal: inside is strictly left of all three.
    // The unrounded distance puts the point on the plane itself, so that the
    // edges are where the corners say, to double precision.
    const double px = ox + exact * dx, py = oy + exact * dy, pz = oz + exact * dz;
    for (int i = 0; i < 3; ++i) {
        const vector3& a = corner[i];
        const vector3& b = corner[i == 2 ? 0 : i + 1];
        const double ex = static_cast<double>(b.x) - a.x, ey = static_cast<double>(b.y) - a.y,
                     ez = static_cast<double>(b.z) - a.z;
        const double qx = px - a.x, qy = py - a.y, qz = pz - a.z;
        const double side = (ey * qz - ez * qy) * n.x + (ez * qx - ex * qz) * n.y + (ex * qy - ey * qx) * n.z;
        if (!(side > 0.0)) return hit_none;
    }

    distance = t;
    return hit_outside;
}
