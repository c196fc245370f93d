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

int triangle::intersect(const ray& r, float& distance) {
    // Back faces and rays parallel to the plane never hit; these exits come
    // before any barycentric work because this is the innermost loop.
    const float den = dot(normal, r.direction);
    if (den >= 0.0f) return hit_none;

    const float t = (offset - dot(normal, r.origin)) / den;
    if (!(t < distance)) return hit_none;
    if (!(t > 0.0f)) return hit_none;

    const vector3 p = r.origin + r.direction * t;
    const vector3 w = p - vertex[0];

    // Coordinates of p in the frame of the two edges, solved in double so
    // that thin triangles keep their accuracy.
    const double det = static_cast<double>(dot11) * dot22 - static_cast<double>(dot12) * dot12;
    const float a = dot(w, edge1);
    const float b = dot(w, edge2);
    const float u = static_cast<float>((static_cast<double>(a) * dot22 - static_cast<double>(b) * dot12) / det);
    const float v = static_cast<float>((static_cast<double>(b) * dot11 - static_cast<double>(a) * dot12) / det);

    // Strictly inside only: edges and corners belong to no triangle.
    if (!(u > 0.0f && v > 0.0f && u < 1.0f && v < 1.0f)) return hit_none;
    if (!(static_cast<double>(u) + static_cast<double>(v) < 1.0)) return hit_none;

    distance = t;
    return hit_outside;
}

vector3 triangle::get_normal(const vector3&) const {
    return normal;
}
