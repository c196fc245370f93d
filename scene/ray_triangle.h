#pragma once

#include <cstdint>

#include "math/ray.h"
#include "math/vector3.h"
#include "scene/object.h"

// The two ray tests a triangle can get, and the rule that picks one.
//
// The single-precision test (the plane, then a 2x2 barycentric solve) is
// sound while the triangle's edge frame is well conditioned. For slivers,
// whose edges are nearly parallel, rounding in that solve lets it accept
// points many widths away from the triangle; they get a test in double
// precision whose accepted points lie on the triangle up to rounding. Why
// the line is drawn where it is, and how far an accepted point can lie
// from the triangle under either test: docs/triangle-bounds.md.

// Above this condition number d11·d22 / (d11·d22 - d12²) of its edge frame,
// a triangle is a sliver.
constexpr double max_regular_condition = 1e5;

// Corners beyond this magnitude (in any coordinate), and edges whose squared
// length is below this floor, are left to the double test too, so that no
// product or sum of the single-precision test overflows or underflows.
constexpr float max_regular_coordinate = 0x1p100f;
constexpr float min_regular_dot = 0x1p-100f;

enum class triangle_kind : std::uint8_t {
    degenerate,  // zero face normal: never hit
    regular,     // the single-precision test
    sliver,      // the double-precision test
};

struct double3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// What either test needs of a triangle, computed once. `normal`, `offset`,
// the edges and their dot products are the single-precision values;
// `plane` is (corner 1 - corner 0) × (corner 2 - corner 0) in double for
// slivers (zero, so that nothing is hit, when even double precision cannot
// resolve the triangle's width).
struct triangle_setup {
    vector3 vertex[3];
    vector3 normal;
    float offset = 0.0f;
    vector3 edge1;
    vector3 edge2;
    float dot11 = 0.0f;
    float dot22 = 0.0f;
    float dot12 = 0.0f;
    triangle_kind kind = triangle_kind::degenerate;
    double3 plane;
};

// Which test a triangle gets, and what that decision measured of it: the
// single-precision squared edge lengths, the condition number of its edge
// frame (infinite when the frame is singular) and its largest corner
// coordinate in magnitude.
struct triangle_shape {
    triangle_kind kind = triangle_kind::degenerate;
    float dot11 = 0.0f;
    float dot22 = 0.0f;
    double condition = 0.0;
    float largest = 0.0f;
};

// The shape of the triangle with these corners. `face_normal` is the face
// record's unnormalised normal, (corner 1 - corner 0) × (corner 2 - corner
// 0) in single precision.
triangle_shape shape_of(const vector3 corner[3], const vector3& face_normal);

inline triangle_kind classify_triangle(const vector3 corner[3], const vector3& face_normal) {
    return shape_of(corner, face_normal).kind;
}

// Everything the tests need, for the triangle with these corners and face
// normal.
triangle_setup prepare_triangle(const vector3 corner[3], const vector3& face_normal);

// The condition number of the edge frame as classify_triangle measures it:
// d11·d22 / det from the single-precision dot products, infinite when det
// is not positive.
double edge_condition(float dot11, float dot22, float dot12);

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

// Either test, as the triangle's kind says.
template <typename record>
inline int intersect_prepared(const record& g, const ray& r, float& distance) {
    switch (g.kind) {
    case triangle_kind::regular: return intersect_regular(g, r, distance);
    case triangle_kind::sliver: return intersect_sliver(g.vertex, g.plane, r, distance);
    case triangle_kind::degenerate: break;
    }
    return hit_none;
}
