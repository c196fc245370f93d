#pragma once

#include <cstdint>

#include "math/vector3.h"

// The two ray tests a triangle can get (regular.h, sliver.h), the rule that
// picks one, and what each needs of the triangle, computed once.
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
