#pragma once

#include "math/vector3.h"
#include "ray_triangle/setup.h"

// How far from a triangle a hit its test accepts can lie, as boxes: the
// derivation of every constant is in docs/triangle-bounds.md. Exactness of
// the hierarchy rests on it: a box is only ever rejected when no ray point
// its triangles could accept lies in it.

// An axis-aligned box, lo and hi per axis (x, y, z).
struct box3 {
    float lo[3];
    float hi[3];
};

// The box that holds every point the triangle's test can accept, widened so
// that the slab test's own rounding on it, and on any box that contains it,
// never rejects such a point. Depends on the triangle alone: its shape (the
// condition number of its edge frame), its size and the magnitude of its
// coordinates. A ray adds ray_allowance to every box it tests.
box3 reach_box(const triangle_setup& t);

// The same box from the corners and what shape_of measured of them (for
// the builder, which has not prepared the triangle), or from the corners
// and the kind alone; all three agree.
box3 reach_box(const vector3 corner[3], const triangle_shape& shape);
box3 reach_box(const vector3 corner[3], triangle_kind kind);

// For compact leaves, whose triangles are classified only when a ray tests
// them: how far outside their corners' box any point either test could
// accept lies, at most, for triangles whose perimeters are at most
// `perimeter` and whose corner coordinates are at most `largest` in
// magnitude. At least the widening reach_box gives each such triangle
// whichever its kind: the single-precision test's bound taken at the
// largest condition number that test is given, plus the double test's own
// share (docs/triangle-bounds.md, "One margin for either test").
double reach_margin_either(double perimeter, double largest);

// The float box that holds [lo - margin, hi + margin] on every axis.
box3 widened_box(const float lo[3], const float hi[3], double margin);

// What a ray adds to every side of every box: the rounding of its hit
// points and of its slab tests that grows with its origin's magnitude,
// 48·2^-24 times its largest coordinate (the factor a little over 48, so
// that the product's own rounding never falls short).
constexpr float ray_allowance_factor = 48.0f * 0x1p-24f * (1.0f + 0x1p-20f);
inline float ray_allowance(const vector3& origin) {
    constexpr float factor = ray_allowance_factor;
    const float x = origin.x < 0.0f ? -origin.x : origin.x;
    const float y = origin.y < 0.0f ? -origin.y : origin.y;
    const float z = origin.z < 0.0f ? -origin.z : origin.z;
    const float largest = x > y ? (x > z ? x : z) : (y > z ? y : z);
    return factor * largest;
}
