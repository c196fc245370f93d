#pragma once

#include <cstdint>

#include "math/vector3.h"
#include "mesh/face.h"

// One triangle of a mesh as the vertex slots of its corners P, Q, R (counted
// from 0), in the order the face line names them.
struct face_corners {
    std::int32_t vertex[3];
};

// What the loader makes of an OBJ file: the scaled vertices in file order and
// the triangles as vertex slots. Counts are -1 until a load has run.
struct mesh {
    int vertex_count = -1;
    int face_count = -1;
    vector3* vertices = nullptr;
    face_corners* faces = nullptr;
};

// Triangle k as a face record: its corners and the unnormalised normal
// (Q - P) x (R - P), whose direction follows the corner order.
face make_face(const mesh& m, int k);
