#include "ray_triangle/setup.h"

#include <cmath>
#include <initializer_list>
#include <limits>

namespace {

bool zero(const vector3& v) { return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f; }

double3 difference(const vector3& a, const vector3& b) {
    return {static_cast<double>(a.x) - b.x, static_cast<double>(a.y) - b.y, static_cast<double>(a.z) - b.z};
}

double3 cross(const double3& a, const double3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

double dot(const double3& a, const double3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Below this squared sine of the angle between its edges a triangle is
// narrower than double precision can resolve (the cross product's own
// rounding would tilt its plane by more than 2^-22): it is never hit.
constexpr double min_sliver_sine_squared = 0x1p-60;

}  // namespace

double edge_condition(float dot11, float dot22, float dot12) {
    const double det = static_cast<double>(dot11) * dot22 - static_cast<double>(dot12) * dot12;
    if (!(det > 0.0)) return std::numeric_limits<double>::infinity();
    return static_cast<double>(dot11) * dot22 / det;
}

triangle_shape shape_of(const vector3 corner[3], const vector3& face_normal) {
    triangle_shape s;
    bool in_range = true;
    for (int i = 0; i < 3; ++i) {
        for (float c : {corner[i].x, corner[i].y, corner[i].z}) {
            const float magnitude = std::fabs(c);
            in_range = in_range && magnitude <= max_regular_coordinate;  // false for a NaN
            if (magnitude > s.largest) s.largest = magnitude;
        }
    }
    if (zero(face_normal)) return s;
    const vector3 e1 = corner[1] - corner[0];
    const vector3 e2 = corner[2] - corner[0];
    s.dot11 = dot(e1, e1);
    s.dot22 = dot(e2, e2);
    const float d12 = dot(e1, e2);
    s.condition = edge_condition(s.dot11, s.dot22, d12);
    const bool regular = in_range && is_finite(face_normal) && std::isfinite(s.dot11) && std::isfinite(s.dot22) &&
                         std::isfinite(d12) && s.dot11 >= min_regular_dot && s.dot22 >= min_regular_dot &&
                         s.condition <= max_regular_condition;
    s.kind = regular ? triangle_kind::regular : triangle_kind::sliver;
    return s;
}

triangle_setup prepare_triangle(const vector3 corner[3], const vector3& face_normal) {
    triangle_setup s;
    for (int i = 0; i < 3; ++i) s.vertex[i] = corner[i];
    s.edge1 = corner[1] - corner[0];
    s.edge2 = corner[2] - corner[0];
    // A face with collinear corners gets the zero normal, which no ray can
    // meet from the front.
    s.normal = normalize(face_normal);
    s.offset = dot(s.normal, corner[0]);
    s.dot11 = dot(s.edge1, s.edge1);
    s.dot22 = dot(s.edge2, s.edge2);
    s.dot12 = dot(s.edge1, s.edge2);
    s.kind = classify_triangle(corner, face_normal);
    if (s.kind != triangle_kind::sliver) return s;

    const double3 e1 = difference(corner[1], corner[0]);
    const double3 e2 = difference(corner[2], corner[0]);
    const double3 n = cross(e1, e2);
    const double squared = dot(n, n);
    if (!(squared > min_sliver_sine_squared * dot(e1, e1) * dot(e2, e2))) return s;  // plane stays zero
    s.plane = n;
    // The single-precision normal of a face whose cross product overflowed
    // is no direction at all; the double one is.
    if (!is_finite(s.normal) || zero(s.normal)) {
        const double inverse = 1.0 / std::sqrt(squared);
        s.normal = {static_cast<float>(n.x * inverse), static_cast<float>(n.y * inverse), static_cast<float>(n.z * inverse)};
    }
    return s;
}
