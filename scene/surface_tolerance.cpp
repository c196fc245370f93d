#include "scene/surface_tolerance.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "ray_triangle/setup.h"

namespace {

constexpr double unit_roundoff = 0x1p-24;

// Each factor is twice its first-order value (docs/shadow-bounds.md): the
// slab's (off the plane) and the band's (outside the footprint), times u
// and the shape min(√κ*, √1e5), the two longest edges' sum ℓ, the corners'
// largest coordinate V and the hit point's P.
constexpr double slab_shape = 6.0, slab_size = 10.0, slab_magnitude = 18.0, slab_point = 42.0;
constexpr double band_shape = 40.0, band_size = 24.0, band_magnitude = 36.0, band_point = 36.0;
// Off each rate at which the ray leaves the plane or an edge: their own
// rounding and the terms of the bounds that grow with the distance.
constexpr double rate_allowance = 10.0 * unit_roundoff;

struct d3 {
    double x, y, z;
};
d3 operator-(const d3& a, const d3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
d3 scale(const d3& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double dot(const d3& a, const d3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
d3 cross(const d3& a, const d3& b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
d3 widen(const vector3& v) { return {v.x, v.y, v.z}; }
void store(const d3& v, double out[3]) {
    out[0] = v.x;
    out[1] = v.y;
    out[2] = v.z;
}
double largest_coordinate(const vector3& v) { return std::max({std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)}); }

}  // namespace

hit_tolerance triangle_tolerance(const vector3 corner[3], const vector3& point) {
    // In double from the float corners: their differences are exact there.
    const d3 c[3] = {widen(corner[0]), widen(corner[1]), widen(corner[2])};
    const d3 edge[3] = {c[1] - c[0], c[2] - c[1], c[0] - c[2]};
    const d3 n = cross(edge[0], c[2] - c[0]);
    const double twice_area = std::sqrt(dot(n, n));
    hit_tolerance h;
    if (!(twice_area > 0.0) || !std::isfinite(twice_area)) return h;  // no plane: nothing was struck
    h.triangle = true;
    const d3 unit = scale(n, 1.0 / twice_area);
    store(unit, h.normal);
    const d3 p = widen(point);
    h.height = dot(unit, p - c[0]);

    double squared[3];
    for (int i = 0; i < 3; ++i) {
        squared[i] = dot(edge[i], edge[i]);
        const d3 inward = scale(cross(unit, edge[i]), 1.0 / std::sqrt(squared[i]));
        store(inward, h.inward[i]);
        h.inside[i] = dot(inward, p - c[i]);
    }

    // The two longest edges: their sum bounds every corner's pair of
    // edges, and the corner between them has the worst condition, κ*.
    std::sort(squared, squared + 3);
    const double pair = std::sqrt(squared[1]) + std::sqrt(squared[2]);
    const double condition = squared[1] * squared[2] / (twice_area * twice_area);
    const double shape = std::min(std::sqrt(condition), std::sqrt(max_regular_condition));
    const double magnitude =
        std::max({largest_coordinate(corner[0]), largest_coordinate(corner[1]), largest_coordinate(corner[2])});
    const double at = largest_coordinate(point);
    h.slab = unit_roundoff * ((slab_shape * shape + slab_size) * pair + slab_magnitude * magnitude + slab_point * at);
    h.band = unit_roundoff * ((band_shape * shape + band_size) * pair + band_magnitude * magnitude + band_point * at);
    return h;
}

hit_tolerance triangle_tolerance(const surface_hit& hit) {
    if (!hit.geometry) return {};
    return triangle_tolerance(make_face(*hit.geometry, hit.triangle).vertex, hit.point);
}

float shadow_reach(const hit_tolerance& h, const vector3& l) {
    if (!h.triangle) return 0.0f;
    const d3 d = widen(l);
    // Until the ray is above the slab...
    const double rising = h.normal[0] * d.x + h.normal[1] * d.y + h.normal[2] * d.z - rate_allowance;
    double reach = rising > 0.0 ? (h.slab - h.height) / rising : std::numeric_limits<double>::infinity();
    // ...or outside an edge by more than the band.
    for (int i = 0; i < 3; ++i) {
        const double leaving = -(h.inward[i][0] * d.x + h.inward[i][1] * d.y + h.inward[i][2] * d.z) - rate_allowance;
        if (leaving > 0.0) reach = std::min(reach, (h.inside[i] + h.band) / leaving);
    }
    if (!(reach > 0.0)) return 0.0f;
    return std::nextafter(static_cast<float>(reach), std::numeric_limits<float>::infinity());
}

bool may_be_copy(const hit_tolerance& h, const vector3& facing) {
    return h.normal[0] * facing.x + h.normal[1] * facing.y + h.normal[2] * facing.z < 0.0;
}
