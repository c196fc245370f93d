#pragma once

#include <cstdint>

#include "math/vector3.h"
#include "mesh/face.h"

// One triangle of a mesh as the vertex slots of its corners P, Q, R (counted
// from 0), in the order the face line names them.
struct face_corners {
    std::int32_t vertex[3];
};

// Every coordinate is multiplied by this on loading, whatever the format:
// meshes come in metres, the scene is laid out in units of a fifth of a
// millimetre.
constexpr float mesh_scale = 5000.0f;

// What a loader makes of a mesh file: the scaled vertices in file order and
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

// The nine progress lines of a finished load, on standard output.
void print_mesh_report(const mesh& m);

// Frees both arrays of a loaded mesh (loaders allocate them with
// util::mapped_array) and resets its counts to -1.
void release_mesh(mesh* m);
