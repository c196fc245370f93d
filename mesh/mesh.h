#pragma once

#include "math/vector3.h"
#include "mesh/face.h"

// What the loader makes of an OBJ file: scaled vertices, their (zeroed)
// vertex normals and the faces. Counts are -1 until a load has run.
struct mesh {
    int vertex_count = -1;
    int face_count = -1;
    vector3* vertices = nullptr;
    vector3* v_normals = nullptr;
    face* faces = nullptr;
};
