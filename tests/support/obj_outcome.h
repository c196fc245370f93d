#pragma once

// What parse_obj makes of a text, with the mesh's arrays copied out, so
// that parses of one text in different ways compare bit for bit. The fuzz
// target uses it too, so it needs nothing of GoogleTest.

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "mesh/obj/load_obj.h"

struct obj_outcome {
    bool ok = false;
    std::string error;
    int vertex_count = -1;   // as the mesh holds them after the call
    int face_count = -1;
    bool left_alone = true;  // a rejected text left the mesh as it was
    std::vector<vector3> vertices;
    std::vector<face_corners> faces;

    // The same answer and the same bytes.
    bool operator==(const obj_outcome& o) const {
        return ok == o.ok && error == o.error && same_bytes(vertices, o.vertices) && same_bytes(faces, o.faces);
    }

private:
    template <typename T>
    static bool same_bytes(const std::vector<T>& a, const std::vector<T>& b) {
        return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
    }
};

inline obj_outcome parse_outcome(const char* data, std::size_t size, const char* name,
                                 std::size_t block = obj_block_size, int threads = 0) {
    obj_outcome o;
    mesh m;
    o.ok = parse_obj(data, size, name, &m, &o.error, block, threads);
    o.vertex_count = m.vertex_count;
    o.face_count = m.face_count;
    if (o.ok) {
        o.vertices.assign(m.vertices, m.vertices + m.vertex_count);
        o.faces.assign(m.faces, m.faces + m.face_count);
        release_mesh(&m);
    } else {
        o.left_alone = m.vertex_count == -1 && m.face_count == -1 && !m.vertices && !m.faces;
    }
    return o;
}

inline obj_outcome parse_outcome(const std::string& text, std::size_t block = obj_block_size, int threads = 0) {
    return parse_outcome(text.data(), text.size(), "t.obj", block, threads);
}
