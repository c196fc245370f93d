#include "world/fit.h"

#include <algorithm>
#include <cmath>

namespace {

// Three doubles, for the fit's own arithmetic.
struct point {
    double x, y, z;
};

point operator-(const point& a, const point& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
point operator+(const point& a, const point& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
point operator*(const point& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double dot(const point& a, const point& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
point cross(const point& a, const point& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
point widen(const vector3& v) { return {v.x, v.y, v.z}; }

// The turn that makes `up` the scene's +y: a proper rotation (determinant
// +1), so that no face turns its back.
vector3 turn(const vector3& v, up_axis up) {
    const float c[3] = {v.x, v.y, v.z};
    const float s = static_cast<float>(up.sign);
    switch (up.axis) {
    case 0: return {-s * c[1], s * c[0], c[2]};   // +x: (x, y, z) -> (-y, x, z)
    case 2: return {c[0], s * c[2], -s * c[1]};   // +z: (x, y, z) -> (x, z, -y)
    default: return {c[0], s * c[1], s * c[2]};   // -y turns half round x
    }
}

// Where a point lands on the screen of a view, in camera-local screen units
// (the frame is |u| <= half_width, |v| <= half_height), as the camera's
// pinhole projects it: through the eye onto the screen 5 units in front.
struct projection {
    point eye, right, up, forward;
    double half_width = 0.0, half_height = 0.0;

    explicit projection(const camera_view& view) {
        const point position = widen(view.position);
        const point v = widen(view.look_at) - position;
        forward = v * (1.0 / std::sqrt(dot(v, v)));
        right = cross(widen(view.up), forward);
        up = cross(right, forward * -1.0);
        eye = position - forward * 5.0;
        half_height = view.half_height;
        half_width = half_height * view.width / view.height;
    }

    // False for a point not in front of the eye.
    bool project(const point& p, double* u, double* v) const {
        const point d = p - eye;
        const double depth = dot(d, forward);
        if (!(depth > 0.0)) return false;
        // The axes are not of unit length: local coordinates divide by
        // their squared lengths.
        *u = 5.0 * dot(d, right) / dot(right, right) / depth;
        *v = 5.0 * dot(d, up) / dot(up, up) / depth;
        return true;
    }
};

struct box {
    point lo, hi;
    point corner(int k) const { return {k & 1 ? hi.x : lo.x, k & 2 ? hi.y : lo.y, k & 4 ? hi.z : lo.z}; }
    // The centre of the footprint, at the bottom.
    point anchor() const { return {(lo.x + hi.x) / 2.0, lo.y, (lo.z + hi.z) / 2.0}; }
    double diagonal() const { const point d = hi - lo; return std::sqrt(dot(d, d)); }
};

// The picture of a box's corners: its extent on the screen, or false when
// some corner is not in front of the eye or falls outside the frame.
bool picture_of(const projection& view, const point (&corners)[8], double* width, double* height) {
    double u_lo = HUGE_VAL, u_hi = -HUGE_VAL, v_lo = HUGE_VAL, v_hi = -HUGE_VAL;
    for (const point& c : corners) {
        double u = 0.0, v = 0.0;
        if (!view.project(c, &u, &v)) return false;
        u_lo = std::min(u_lo, u);
        u_hi = std::max(u_hi, u);
        v_lo = std::min(v_lo, v);
        v_hi = std::max(v_hi, v);
    }
    *width = u_hi - u_lo;
    *height = v_hi - v_lo;
    return u_lo >= -view.half_width && u_hi <= view.half_width && v_lo >= -view.half_height &&
           v_hi <= view.half_height;
}

const box bunny{widen(bunny_box.lo), widen(bunny_box.hi)};

// The largest factor for `b`, moved from its anchor to the bunny's, that
// keeps its picture in the frame and within the bunny's picture's width and
// height. The picture's extent grows with the factor, so it is found by
// bisection from a factor that fits (0) and one that does not.
double fit_factor(const box& b, const projection& view) {
    point bunny_corners[8];
    for (int k = 0; k < 8; ++k) bunny_corners[k] = bunny.corner(k);
    double bunny_width = 0.0, bunny_height = 0.0;
    picture_of(view, bunny_corners, &bunny_width, &bunny_height);

    const point from = b.anchor();
    const point to = bunny.anchor();
    auto fits = [&](double s) {
        point corners[8];
        for (int k = 0; k < 8; ++k) corners[k] = to + (b.corner(k) - from) * s;
        double width = 0.0, height = 0.0;
        return picture_of(view, corners, &width, &height) && width <= bunny_width && height <= bunny_height;
    };

    double low = 0.0;
    double high = bunny.diagonal() / b.diagonal();
    for (int k = 0; k < 64 && fits(high); ++k) {
        low = high;
        high *= 2.0;
    }
    for (int k = 0; k < 100; ++k) {
        const double middle = (low + high) / 2.0;
        (fits(middle) ? low : high) = middle;
    }
    return low;
}

}  // namespace

void place_mesh(mesh& m, const mesh_placement& p) {
    const bool turned = !(p.up.axis == 1 && p.up.sign == 1);
    if (turned)
        for (int i = 0; i < m.vertex_count; ++i) m.vertices[i] = turn(m.vertices[i], p.up);
    if (!p.fit || m.vertex_count <= 0) return;

    box b{widen(m.vertices[0]), widen(m.vertices[0])};
    for (int i = 1; i < m.vertex_count; ++i) {
        const point v = widen(m.vertices[i]);
        b.lo = {std::min(b.lo.x, v.x), std::min(b.lo.y, v.y), std::min(b.lo.z, v.z)};
        b.hi = {std::max(b.hi.x, v.x), std::max(b.hi.y, v.y), std::max(b.hi.z, v.z)};
    }
    const double s = b.diagonal() > 0.0 ? fit_factor(b, projection(p.view)) : 1.0;
    const point from = b.anchor();
    const point to = bunny.anchor();
    for (int i = 0; i < m.vertex_count; ++i) {
        const point v = to + (widen(m.vertices[i]) - from) * s;
        m.vertices[i] = {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
    }
}
