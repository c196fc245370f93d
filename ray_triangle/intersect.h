#pragma once

#include "math/hit_code.h"
#include "math/ray.h"
#include "ray_triangle/regular.h"
#include "ray_triangle/setup.h"
#include "ray_triangle/sliver.h"

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
