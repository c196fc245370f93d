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

// Every triangle split in four at its edge midpoints: the same surface.
inline triangle_soup subdivided(const triangle_soup& in) {
    triangle_soup out;
    for (int k = 0; k < in.size(); ++k) {
        const vector3* v = &in.vertices[static_cast<std::size_t>(in.faces[k].vertex[0])];
        const vector3 a = 0.5f * (v[0] + v[1]), b = 0.5f * (v[1] + v[2]), c = 0.5f * (v[2] + v[0]);
        out.add(v[0], a, c);
        out.add(a, v[1], b);
        out.add(c, b, v[2]);
        out.add(a, b, c);
    }
    return out;
}
