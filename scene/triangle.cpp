#include "scene/triangle.h"

triangle::triangle(face f) : triangle_setup(prepare_triangle(f.vertex, f.normal)) {}

vector3 triangle::get_normal(const vector3&) const {
    return normal;
}
