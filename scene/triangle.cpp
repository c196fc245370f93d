#include "scene/triangle.h"

triangle::triangle(face f) {
    const triangle_setup s = prepare_triangle(f.vertex, f.normal);
    for (int i = 0; i < 3; ++i) vertex[i] = s.vertex[i];
    normal = s.normal;
    offset = s.offset;
    edge1 = s.edge1;
    edge2 = s.edge2;
    dot11 = s.dot11;
    dot22 = s.dot22;
    dot12 = s.dot12;
    kind = s.kind;
    plane = s.plane;
}

vector3 triangle::get_normal(const vector3&) const {
    return normal;
}
