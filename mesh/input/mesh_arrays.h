#pragma once

// The two arrays of a mesh while a reader fills them: in mappings of their
// own, as release_mesh frees them, grown as the file is read (or sized once
// when the file's size vouches for its header), and handed over trimmed.

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>

#include "mesh/mesh.h"
#include "util/mapped_array.h"

// A mesh holds at most this many vertices and as many triangles.
constexpr long long mesh_count_limit = INT_MAX;

class mesh_arrays {
public:
    long long vertex_count = 0;  // filled so far
    long long face_count = 0;

    // Room for `n` in all; false when memory runs out.
    bool reserve_vertices(long long n) { return vertices_.reserve(static_cast<std::size_t>(n) * sizeof(vector3)); }
    bool reserve_faces(long long n) { return faces_.reserve(static_cast<std::size_t>(n) * sizeof(face_corners)); }

    vector3* vertices() const { return reinterpret_cast<vector3*>(vertices_.data()); }
    face_corners* faces() const { return reinterpret_cast<face_corners*>(faces_.data()); }

    bool add_vertex(const vector3& v) {
        if (!reserve_vertices(vertex_count + 1)) return false;
        vertices()[vertex_count++] = v;
        return true;
    }
    bool add_face(std::int32_t a, std::int32_t b, std::int32_t c) {
        if (!reserve_faces(face_count + 1)) return false;
        faces()[face_count++] = face_corners{{a, b, c}};
        return true;
    }

    // Gives `m` both arrays at their counts (both at most
    // mesh_count_limit); false when memory runs out even for that.
    bool hand_over(mesh* m);

private:
    util::growing_mapping vertices_, faces_;
};

// "NAME: out of memory after N faces", as every loader says it.
std::string out_of_memory_message(const char* name, long long faces);
