#pragma once

// Helpers shared by the tests and the benchmarks: meshes made in code, and
// the reference the hierarchy must answer to.

#include <memory>
#include <vector>

#include "mesh/mesh.h"
#include "scene/triangle.h"

// A mesh built triangle by triangle, each with its own three vertices.
struct triangle_soup {
    std::vector<vector3> vertices;
    std::vector<face_corners> faces;

    void add(const vector3& p, const vector3& q, const vector3& r) {
        const std::int32_t first = static_cast<std::int32_t>(vertices.size());
        vertices.insert(vertices.end(), {p, q, r});
        faces.push_back({{first, first + 1, first + 2}});
    }
    int size() const { return static_cast<int>(faces.size()); }

    // A view of the soup as a mesh; it owns nothing, so is never released.
    mesh view() const {
        mesh m;
        m.vertex_count = static_cast<int>(vertices.size());
        m.face_count = size();
        m.vertices = const_cast<vector3*>(vertices.data());
        m.faces = const_cast<face_corners*>(faces.data());
        return m;
    }
};

// The linear scan: every triangle of a mesh, made as a triangle object from
// its face record, tested in index order with the caller's distance, each
// accepted hit lowering it. What it returns is what the hierarchy must.
struct linear_reference {
    std::vector<std::unique_ptr<triangle>> triangles;

    explicit linear_reference(const mesh& m) {
        for (int k = 0; k < m.face_count; ++k) triangles.push_back(std::make_unique<triangle>(make_face(m, k)));
    }

    // The code of the last triangle that accepted (the nearest; the lowest
    // index among equals), with its index; `distance` and `index` are left
    // alone when none did.
    int intersect(const ray& r, float& distance, int& index) const {
        int code = hit_none;
        for (std::size_t k = 0; k < triangles.size(); ++k) {
            const int c = triangles[k]->intersect(r, distance);
            if (c != hit_none) {
                code = c;
                index = static_cast<int>(k);
            }
        }
        return code;
    }
};
