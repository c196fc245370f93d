#pragma once

// Triangles of every shape and scale for the triangle tests' oracles: from
// fat to collinear, from 2^-100 to 2^110 in size and place, made in double
// and rounded to float corners. And the few double-vector helpers that
// aim rays at them.

#include <cmath>
#include <random>

#include "tests/support/described_triangle.h"

namespace triangle_families {

using described::vec;

struct d3 {
    double x, y, z;
};
inline d3 operator+(d3 a, d3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline d3 operator-(d3 a, d3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline d3 operator*(double s, d3 a) { return {s * a.x, s * a.y, s * a.z}; }
inline double dot(d3 a, d3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline d3 cross(d3 a, d3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline d3 unit(d3 a) { return (1.0 / std::sqrt(dot(a, a))) * a; }
inline d3 wide(const vec& v) { return {v.x, v.y, v.z}; }
inline vec narrow(d3 a) { return {static_cast<float>(a.x), static_cast<float>(a.y), static_cast<float>(a.z)}; }

// How a family's triangles are made: `squeeze` k puts the third corner
// 2^-k of the size off the line through the other two (0: anywhere).
enum class form {
    random,   // any orientation
    planar,   // the long edge in a coordinate plane at any angle, the width
              // across it exact, down to far below what double resolves
};

struct family {
    const char* name;
    form shape;
    int squeeze_lo, squeeze_hi;  // 2^-k of the size off the line
    int scale_lo, scale_hi;      // size 2^s
    int offset_lo, offset_hi;    // place 2^(s + o) from the origin
    int count;
    unsigned seed;
};

// From fat to degenerate, at every scale the floats allow. The regular
// test's range ends at coordinates of 2^100 and squared edges of 2^-100.
inline const family families[] = {
    {"fat", form::random, 0, 0, -6, 12, -4, 6, 600, 1},
    {"moderate", form::random, 1, 7, -6, 12, -4, 14, 600, 2},
    {"near the line between the tests", form::random, 8, 10, -6, 12, -4, 4, 700, 3},
    {"slivers", form::random, 11, 22, -6, 12, -4, 4, 500, 4},
    {"thin slivers", form::planar, 12, 40, -6, 12, -4, 8, 500, 5},
    {"near the floor of what double resolves", form::planar, 28, 34, -6, 12, -4, 8, 300, 6},
    {"below that floor", form::planar, 32, 60, -6, 12, -4, 8, 150, 7},
    {"small, far from the origin", form::random, 0, 6, -48, -30, -4, 20, 300, 11},
    {"large, far from the origin", form::random, 0, 6, 18, 31, -4, 20, 300, 12},
    {"tiny", form::random, 0, 12, -100, -60, -4, 10, 300, 8},
    {"huge", form::random, 0, 12, 60, 100, -4, 4, 300, 9},
    {"huge thin slivers", form::planar, 12, 36, 80, 110, -4, 2, 200, 10},
};

struct maker {
    std::mt19937_64 rng;
    double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }
    int integer(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
    d3 cube() { return {uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)}; }
    bool coin() { return integer(0, 1) == 1; }

    // Three float corners of the family's kind.
    void triangle_of(const family& f, vec c[3]) {
        const int s = integer(f.scale_lo, f.scale_hi);
        const double size = std::ldexp(1.0, s);
        const d3 base = std::ldexp(1.0, s + integer(f.offset_lo, f.offset_hi)) * cube();
        const int k = integer(f.squeeze_lo, f.squeeze_hi);
        d3 p, q, r;
        if (f.shape == form::random) {
            p = base + size * cube();
            q = base + size * cube();
            r = k == 0 ? base + size * cube() : p + uniform(-0.5, 1.5) * (q - p) + std::ldexp(size, -k) * cube();
        } else {
            // On a grid of 2^-12 of the size, so that every sum is exact: the
            // width w along the third axis is exactly what it says.
            auto snap = [&](double x) { return std::ldexp(std::round(std::ldexp(x, 12 - s)), s - 12); };
            const int a = integer(0, 2), b = (a + 1) % 3, across = (a + 2) % 3;
            double pp[3] = {}, ee[3] = {}, ww[3] = {};
            pp[a] = snap(base.x + size * uniform(-1, 1));
            pp[b] = snap(base.y + size * uniform(-1, 1));
            ee[a] = snap(size * uniform(-1, 1));
            ee[b] = snap(size * uniform(-1, 1));
            ww[across] = (coin() ? 1 : -1) * std::ldexp(size, -k);
            const double lambda = 0.25 * integer(-1, 5);
            p = {pp[0], pp[1], pp[2]};
            q = p + d3{ee[0], ee[1], ee[2]};
            r = p + lambda * d3{ee[0], ee[1], ee[2]} + d3{ww[0], ww[1], ww[2]};
        }
        const vec corners[3] = {narrow(p), narrow(q), narrow(r)};
        const int first = integer(0, 2);  // any corner first, the turn kept
        for (int i = 0; i < 3; ++i) c[i] = corners[(first + i) % 3];
    }
};

}  // namespace triangle_families
