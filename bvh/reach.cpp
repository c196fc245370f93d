#include "bvh/reach.h"

#include <algorithm>
#include <cmath>

#include "math/float_step.h"

namespace {

constexpr double unit_roundoff = 0x1p-24;         // single precision
constexpr double double_roundoff = 0x1p-53;

// The bound of docs/triangle-bounds.md, each factor twice its first-order
// value: dist(hit, triangle) <= u·((shape·√κ + size)·L + magnitude·V)
// + 48·u·|origin| (ray_allowance), with L the sum of the edge lengths, V the largest
// corner coordinate and κ the edge frame's condition number.
constexpr double shape_factor = 40.0;
constexpr double size_factor = 20.0;
constexpr double magnitude_factor = 48.0;
// The double-precision test's own share, over 2^-53: its plane's tilt.
constexpr double sliver_shape_factor = 8.0;
constexpr double sliver_size_factor = 8.0;

// The largest float at or below x (below an overflowing rounding, the
// largest finite one).
float round_down(double x) {
    const float f = static_cast<float>(x);
    return static_cast<double>(f) > x ? next_float_down(f) : f;
}

float round_up(double x) { return -round_down(-x); }

double length(const vector3& a, const vector3& b) {
    const double x = static_cast<double>(b.x) - a.x, y = static_cast<double>(b.y) - a.y,
                 z = static_cast<double>(b.z) - a.z;
    return std::sqrt(x * x + y * y + z * z);
}

box3 widened(const vector3 corner[3], double margin) {
    float lo[3], hi[3];
    for (int a = 0; a < 3; ++a) {
        lo[a] = hi[a] = (&corner[0].x)[a];
        for (int i = 1; i < 3; ++i) {
            lo[a] = std::min(lo[a], (&corner[i].x)[a]);
            hi[a] = std::max(hi[a], (&corner[i].x)[a]);
        }
    }
    return widened_box(lo, hi, margin);
}

}  // namespace

box3 widened_box(const float lo[3], const float hi[3], double margin) {
    box3 b;
    for (int a = 0; a < 3; ++a) {
        b.lo[a] = round_down(lo[a] - margin);
        b.hi[a] = round_up(hi[a] + margin);
    }
    return b;
}

double reach_margin_either(double perimeter, double largest) {
    // The regular bound's edge lengths come from float dot products, a few
    // units of 2^-24 off the exact ones, and every sum here rounds: the
    // slack of 2^-20 covers both.
    constexpr double slack = 1.0 + 0x1p-20;
    const double regular = unit_roundoff * ((shape_factor * std::sqrt(max_regular_condition) + size_factor) * perimeter +
                                            magnitude_factor * largest);
    const double sliver_share = double_roundoff * (sliver_shape_factor * 0x1p30 + sliver_size_factor) * perimeter;
    return slack * (regular + sliver_share);
}

box3 reach_box(const vector3 corner[3], const triangle_shape& shape) {
    const double magnitude = magnitude_factor * shape.largest;
    if (shape.kind == triangle_kind::regular) {
        // From the single-precision squared lengths and condition number the
        // choice of test measured, a few units of 2^-24 off the exact ones:
        // the factor of two in every constant covers that.
        const double size = std::sqrt(static_cast<double>(shape.dot11)) + std::sqrt(static_cast<double>(shape.dot22));
        return widened(corner, unit_roundoff * ((shape_factor * std::sqrt(shape.condition) + size_factor) * size + magnitude));
    }
    // Slivers, whose dot products may have overflowed: the edges in double,
    // all three, as their test walks all three. The squared sine of the
    // angle between the edges is at least 2^-60 for a sliver that can be
    // hit, so √κ stays below 2^30.
    const double size = length(corner[0], corner[1]) + length(corner[0], corner[2]);
    const double perimeter = size + length(corner[1], corner[2]);
    return widened(corner, unit_roundoff * (size_factor * size + magnitude) +
                               double_roundoff * (sliver_shape_factor * 0x1p30 + sliver_size_factor) * perimeter);
}

box3 reach_box(const vector3 corner[3], triangle_kind kind) {
    triangle_shape shape = shape_of(corner, cross(corner[1] - corner[0], corner[2] - corner[0]));
    shape.kind = kind;
    return reach_box(corner, shape);
}

box3 reach_box(const triangle_setup& t) { return reach_box(t.vertex, t.kind); }
