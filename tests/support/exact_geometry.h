#pragma once

// Exact geometry for the triangle tests' oracle: points of a ray, distances
// to a triangle and to its edges' lines, and the shape measures the bounds
// of docs/triangle-bounds.md are written in, all in rationals (exact.h)
// from the float inputs. Shares no code with ray_triangle/ or bvh/.

#include <algorithm>
#include <cmath>

#include "tests/support/described_triangle.h"
#include "tests/support/exact.h"

namespace exact {

struct point {
    rational x, y, z;
};

inline point of(const described::vec& v) { return {rational(v.x), rational(v.y), rational(v.z)}; }
inline point operator-(const point& a, const point& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline point operator+(const point& a, const point& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline point operator*(const rational& s, const point& a) { return {s * a.x, s * a.y, s * a.z}; }
inline rational dot(const point& a, const point& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline point cross(const point& a, const point& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// o + t·d, exactly.
inline point on_ray(const described::vec& o, const described::vec& d, float t) {
    return of(o) + rational(t) * of(d);
}

// The squared distance from p to the segment ab.
inline rational squared_to_segment(const point& p, const point& a, const point& b) {
    const point e = b - a, w = p - a;
    const rational ee = dot(e, e);
    rational s = ee == 0 ? rational(0) : rational(dot(w, e) / ee);
    s = std::min(std::max(s, rational(0)), rational(1));
    const point off = w - s * e;
    return dot(off, off);
}

// The squared distance from p to the closed triangle with these corners.
inline rational squared_to_triangle(const point& p, const point c[3]) {
    const point n = cross(c[1] - c[0], c[2] - c[0]);
    const rational nn = dot(n, n);
    if (nn != 0) {
        bool inside = true;
        for (int i = 0; i < 3; ++i) inside = inside && sgn(dot(cross(c[(i + 1) % 3] - c[i], p - c[i]), n)) >= 0;
        if (inside) {
            const rational h = dot(n, p - c[0]);
            return h * h / nn;
        }
    }
    rational best = squared_to_segment(p, c[0], c[1]);
    best = std::min(best, squared_to_segment(p, c[1], c[2]));
    return std::min(best, squared_to_segment(p, c[2], c[0]));
}

// Where the ray's line meets the triangle's plane, when it does.
inline bool meets_plane(const described::vec& o, const described::vec& d, const point c[3], point& x) {
    const point n = cross(c[1] - c[0], c[2] - c[0]);
    const rational den = dot(n, of(d));
    if (den == 0) return false;
    x = of(o) + rational(dot(n, c[0] - of(o)) / den) * of(d);
    return true;
}

// Whether x, a point of the triangle's plane, lies inside it farther than
// `depth` from each of its edges' lines.
inline bool deep_inside(const point& x, const point c[3], double depth) {
    const point n = cross(c[1] - c[0], c[2] - c[0]);
    const rational squared_depth = rational(depth) * rational(depth);
    for (int i = 0; i < 3; ++i) {
        const point e = c[(i + 1) % 3] - c[i];
        const point side = cross(e, x - c[i]);
        if (sgn(dot(side, n)) <= 0) return false;
        if (dot(side, side) <= squared_depth * dot(e, e)) return false;  // |e × w| / |e| is the distance
    }
    return true;
}

// What the bounds are written in (docs/triangle-bounds.md, "Notation"):
// the condition number of the computed edges' frame, the sum L of their
// lengths, the perimeter, the largest corner coordinate V, and the
// squared sine of the angle between the exact edges.
struct shape {
    double condition;  // infinite for a singular frame
    double edge_sum;
    double perimeter;
    double largest;
    double sine_squared;
};

inline shape measure(const described::vec c[3]) {
    const described::vec fe1 = described::minus(c[1], c[0]), fe2 = described::minus(c[2], c[0]);
    const point e1 = of(fe1), e2 = of(fe2);
    const rational d11 = dot(e1, e1), d22 = dot(e2, e2), d12 = dot(e1, e2);
    const rational det = d11 * d22 - d12 * d12;
    shape s;
    s.condition = det > 0 ? rational(d11 * d22 / det).get_d() : INFINITY;
    s.edge_sum = std::sqrt(d11.get_d()) + std::sqrt(d22.get_d());
    const point p[3] = {of(c[0]), of(c[1]), of(c[2])};
    s.perimeter = 0.0;
    for (int i = 0; i < 3; ++i) s.perimeter += std::sqrt(dot(p[(i + 1) % 3] - p[i], p[(i + 1) % 3] - p[i]).get_d());
    s.largest = 0.0;
    for (int i = 0; i < 3; ++i)
        s.largest = std::max({s.largest, std::fabs(double(c[i].x)), std::fabs(double(c[i].y)), std::fabs(double(c[i].z))});
    const point x1 = p[1] - p[0], x2 = p[2] - p[0], n = cross(x1, x2);
    const rational lengths = dot(x1, x1) * dot(x2, x2);
    s.sine_squared = lengths == 0 ? 0.0 : rational(dot(n, n) / lengths).get_d();
    return s;
}

inline double largest_of(const described::vec& v) {
    return std::max({std::fabs(double(v.x)), std::fabs(double(v.y)), std::fabs(double(v.z))});
}

constexpr double u = 0x1p-24, u_d = 0x1p-53;

// docs/triangle-bounds.md, "Together": how far from the triangle a point
// the single-precision test accepts can lie, to first order:
// u·((19.4·√κ + 9)·L + 17.3·V + 15.6·‖o‖∞).
inline double regular_bound(const shape& s, const described::vec& origin) {
    return u * ((19.4 * std::sqrt(s.condition) + 9.0) * s.edge_sum + 17.3 * s.largest + 15.6 * largest_of(origin));
}

// docs/triangle-bounds.md, "The double-precision test": u·√3·(X + ‖o‖∞)
// for the distance's rounding to float, plus the plane's lean, at most
// √2·γ2(u_d)·√κ (2.9·√κ·u_d, κ = 1/sin² of the exact corners' angle) over
// the perimeter, plus 8·u_d·perimeter for
// the edge functions. X is the accepted point's largest coordinate.
inline double sliver_bound(const shape& s, const described::vec& origin, double x_largest) {
    return u * std::sqrt(3.0) * (x_largest + largest_of(origin)) +
           (2.9 / std::sqrt(std::max(s.sine_squared, 0x1p-60)) + 8.0) * u_d * s.perimeter;
}

}  // namespace exact
