#include "mesh/mesh.h"

#include <cfloat>
#include <cstdio>
#include <limits>

#include "util/mapped_array.h"

face make_face(const mesh& m, int k) {
    face f;
    for (int j = 0; j < 3; ++j) f.vertex[j] = m.vertices[m.faces[k].vertex[j]];
    f.normal = cross(f.vertex[1] - f.vertex[0], f.vertex[2] - f.vertex[0]);
    return f;
}

void print_mesh_report(const mesh& m) {
    std::printf("\t\tfound %i verts \n", m.vertex_count);
    std::printf("\t\tfound %i faces \n", m.face_count);
    std::printf("\t\tscaling object: \n");
    std::printf("\n");
    std::printf("\n");
    // The maximum starts at the lowest float, so a mesh lying wholly below
    // y = 0 still reports its real top.
    float max_y = std::numeric_limits<float>::lowest();
    float min_y = FLT_MAX;
    for (int i = 0; i < m.vertex_count; ++i) {
        const float y = m.vertices[i].y;
        if (y < min_y) min_y = y;
        if (y > max_y) max_y = y;
    }
    std::printf("\t\tmax y = %f \n", static_cast<double>(max_y));
    std::printf("\t\tmin y = %f \n", static_cast<double>(min_y));
    std::printf("\t\t\tallocated mem\n");
    std::printf("\t\t\tcalculating normals, v_normals\n");
}

void release_mesh(mesh* m) {
    util::unmap_array(m->vertices, sizeof(vector3) * static_cast<std::size_t>(m->vertex_count));
    util::unmap_array(m->faces, sizeof(face_corners) * static_cast<std::size_t>(m->face_count));
    m->vertices = nullptr;
    m->faces = nullptr;
    m->vertex_count = -1;
    m->face_count = -1;
}
