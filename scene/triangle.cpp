#include "scene/triangle.h"

triangle::triangle(face f) {
    vertex[0] = f.vertex[0];
    vertex[1] = f.vertex[1];
    vertex[2] = f.vertex[2];
    edge1 = vertex[1] - vertex[0];
    edge2 = vertex[2] - vertex[0];
    // A face with collinear corners gets the zero normal, which no ray can
    // meet from the front, so it never reports a hit.
    normal = normalize(f.normal);
    offset = dot(normal, vertex[0]);
    dot11 = dot(edge1, edge1);
    dot22 = dot(edge2, edge2);
    dot12 = dot(edge1, edge2);
}

vector3 triangle::get_normal(const vector3&) const {
    return normal;
}
