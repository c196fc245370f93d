// scene/surface_tolerance.cpp: the reach of a shadow ray, checked against
// what it guards. Triangles of every shape, size and place are hit by rays
// from afar; from each hit point, shadow rays toward lights at every angle
// down to grazing meet the triangle's reversed copies (its corners in each
// reversed order) only within the reach, and never from its far end.

#include "scene/surface_tolerance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "scene/triangle.h"
#include "tests/support/slow_build.h"

namespace {

face face_of(const vector3& a, const vector3& b, const vector3& c) {
    face f;
    f.vertex[0] = a;
    f.vertex[1] = b;
    f.vertex[2] = c;
    f.normal = cross(b - a, c - a);
    return f;
}

vector3 random_unit(std::mt19937_64& rng) {
    std::normal_distribution<double> g;
    for (;;) {
        const double x = g(rng), y = g(rng), z = g(rng);
        const double n = std::sqrt(x * x + y * y + z * z);
        if (n > 1e-3) return {static_cast<float>(x / n), static_cast<float>(y / n), static_cast<float>(z / n)};
    }
}

vector3 scaled(const vector3& v, double s) {
    return {static_cast<float>(v.x * s), static_cast<float>(v.y * s), static_cast<float>(v.z * s)};
}

// A unit vector at angle acos(c) from `n`, the rest of it random.
vector3 at_cosine(const vector3& n, double c, std::mt19937_64& rng) {
    const vector3 r = random_unit(rng);
    const vector3 side = normalize(r - dot(r, n) * n);
    const double s = std::sqrt(1.0 - c * c);
    return normalize({static_cast<float>(c * n.x + s * side.x), static_cast<float>(c * n.y + s * side.y),
                      static_cast<float>(c * n.z + s * side.z)});
}

}  // namespace

TEST(shadow_reach, reversed_copies_are_met_only_within_the_reach) {
    std::mt19937_64 rng(20261209);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int cases = slow_build ? 20000 : 400000;
    long hits = 0, copies_met = 0, met_from_far_end = 0, beyond_reach = 0;
    // How much of each allowance the copies met use: how far off the plane
    // (of the slab), and how far outside the footprint (of the band).
    double slab_used = 0.0, band_used = 0.0;
    std::string first_failure;
    for (int k = 0; k < cases; ++k) {
        // Shape: fat, or a sliver whose third corner sits a hair off the
        // line of the other two. Size from 1e-3 to 1e4, placed up to 1e5
        // from the origin.
        const double size = std::pow(10.0, -3.0 + 7.0 * unit(rng));
        const double place = std::pow(10.0, -2.0 + 7.0 * unit(rng));
        const vector3 centre = scaled(random_unit(rng), place);
        const vector3 a = centre + scaled(random_unit(rng), size);
        const vector3 b = centre + scaled(random_unit(rng), size);
        vector3 c = centre + scaled(random_unit(rng), size);
        if (k % 3 == 0) {
            const double along = unit(rng), off = std::pow(10.0, -7.0 + 6.0 * unit(rng));
            c = scaled(a, 1.0 - along) + scaled(b, along) + scaled(random_unit(rng), off * size);
        }
        triangle struck(face_of(a, b, c));
        if (struck.kind == triangle_kind::degenerate) continue;

        // A ray from afar, on the front side, aimed at a point inside.
        double u = unit(rng), v = unit(rng);
        if (u + v > 1.0) u = 1.0 - u, v = 1.0 - v;
        const vector3 target = a + scaled(b - a, u) + scaled(c - a, v);
        const vector3 from_dir = at_cosine(struck.normal, 0.05 + 0.95 * unit(rng), rng);
        const vector3 origin = target + scaled(from_dir, size * std::pow(10.0, 4.0 * unit(rng)));
        const vector3 d = normalize(target - origin);
        float t = std::numeric_limits<float>::infinity();
        if (struck.intersect(ray{origin, d}, t) == hit_none) continue;
        ++hits;
        // The hit point as the tracer computes it.
        const vector3 p = origin + d * t;
        const hit_tolerance h = triangle_tolerance(struck.vertex, p);

        // A light anywhere in front, down to grazing.
        const double cosine = std::pow(10.0, -6.0 * unit(rng));
        const vector3 l = at_cosine(struck.normal, cosine, rng);
        if (!(dot(struck.normal, l) > 0.0f)) continue;
        const float reach = shadow_reach(h, l);
        const vector3 q = p + l * reach;

        const vector3 orders[3][3] = {{a, c, b}, {c, b, a}, {b, a, c}};
        for (const auto& o : orders) {
            triangle copy(face_of(o[0], o[1], o[2]));
            float met = std::numeric_limits<float>::infinity();
            if (copy.intersect(ray{p, l}, met) != hit_none) {
                ++copies_met;
                const double rising = h.normal[0] * l.x + h.normal[1] * l.y + h.normal[2] * l.z;
                slab_used = std::max(slab_used, std::fabs(h.height + met * rising) / h.slab);
                for (int i = 0; i < 3; ++i) {
                    const double leaving = -(h.inward[i][0] * l.x + h.inward[i][1] * l.y + h.inward[i][2] * l.z);
                    band_used = std::max(band_used, (met * leaving - h.inside[i]) / h.band);
                }
                if (!(met <= reach)) {
                    ++beyond_reach;
                    if (first_failure.empty())
                        first_failure = "case " + std::to_string(k) + ": met at " + std::to_string(met) + ", reach " +
                                        std::to_string(reach);
                }
            }
            float again = std::numeric_limits<float>::infinity();
            if (std::isfinite(reach) && copy.intersect(ray{q, l}, again) != hit_none) {
                ++met_from_far_end;
                if (first_failure.empty())
                    first_failure = "case " + std::to_string(k) + ": met again from the far end at " + std::to_string(again);
            }
        }
    }
    std::printf("%ld hits, %ld copies met, using at most %.3g of the slab and %.3g of the band\n", hits, copies_met,
                slab_used, band_used);
    EXPECT_EQ(beyond_reach, 0) << first_failure;
    EXPECT_EQ(met_from_far_end, 0) << first_failure;
    // The speckle is there to be kept off: a good share of the copies are met.
    EXPECT_GT(copies_met, hits / 10);
}
