#include "mesh/input/mesh_arrays.h"

#include <string>

bool mesh_arrays::hand_over(mesh* m) {
    const std::size_t vertex_bytes = sizeof(vector3) * static_cast<std::size_t>(vertex_count);
    const std::size_t face_bytes = sizeof(face_corners) * static_cast<std::size_t>(face_count);
    void* const vertices = vertices_.release(vertex_bytes);
    void* const faces = faces_.release(face_bytes);
    if (!vertices || !faces) {
        util::unmap_array(vertices, vertex_bytes);
        util::unmap_array(faces, face_bytes);
        return false;
    }
    m->vertex_count = static_cast<int>(vertex_count);
    m->face_count = static_cast<int>(face_count);
    m->vertices = static_cast<vector3*>(vertices);
    m->faces = static_cast<face_corners*>(faces);
    return true;
}

std::string out_of_memory_message(const char* name, long long faces) {
    return std::string(name) + ": out of memory after " + std::to_string(faces) + " faces";
}
