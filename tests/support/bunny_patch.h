#pragma once

// The bunny loaded once per test binary, and pieces of it as triangle soups.

#include "math/vector3.h"
#include "mesh/mesh.h"
#include "tests/support/bunny.h"
#include "tests/support/triangle_soup.h"

inline const mesh& bunny() {
    static const mesh m = parse_bunny();
    return m;
}

// The bunny's faces whose first corner lies within `radius` of `centre`
// (all of them for an infinite radius), in file order.
inline triangle_soup bunny_patch(const vector3& centre, float radius) {
    triangle_soup s;
    const mesh& m = bunny();
    for (int i = 0; i < m.face_count; ++i) {
        const face f = make_face(m, i);
        const vector3 d = f.vertex[0] - centre;
        if (dot(d, d) <= radius * radius) s.add(f.vertex[0], f.vertex[1], f.vertex[2]);
    }
    return s;
}
