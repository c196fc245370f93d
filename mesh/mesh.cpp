#include "mesh/mesh.h"

face make_face(const mesh& m, int k) {
    face f;
    for (int j = 0; j < 3; ++j) f.vertex[j] = m.vertices[m.faces[k].vertex[j]];
    f.normal = cross(f.vertex[1] - f.vertex[0], f.vertex[2] - f.vertex[0]);
    return f;
}
