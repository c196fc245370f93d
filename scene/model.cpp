#include "scene/model.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "mesh/load_obj.h"

namespace {

// A file that cannot be opened or is rejected stops the program before any
// rendering: there is no sensible picture of a missing or corrupt mesh.
mesh* load_or_exit(const char* path) {
    std::FILE* stream = std::fopen(path, "r");
    if (!stream) {
        std::fprintf(stderr, "cannot open %s: %s\n", path, std::strerror(errno));
        std::exit(1);
    }
    mesh* m = new mesh;
    std::string error;
    if (!load_obj(stream, m, path, &error)) {
        delete m;
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
    }
    return m;
}

// Relative widening of the bounding radius, so that rounding in the
// triangle test can never place an accepted hit outside the sphere.
constexpr double radius_margin = 1e-3;

// Per-ray slack of the gate, relative to the ray origin's distance from the
// centre: covers rounding of hit points computed far from the origin.
constexpr double origin_slack = 4e-6;

}  // namespace

vector3 mesh_centroid(const mesh& m) {
    if (m.vertex_count <= 0) return {};
    float x = 0.0f, y = 0.0f, z = 0.0f;
    for (int i = 0; i < m.vertex_count; ++i) {
        x += m.vertices[i].x;
        y += m.vertices[i].y;
        z += m.vertices[i].z;
    }
    const float n = static_cast<float>(m.vertex_count);
    return {x / n, y / n, z / n};
}

model::model() : model("bunny.obj") {}

model::model(const char* path) : model(load_or_exit(path)) {}

model::model(mesh* loaded) {
    geometry = loaded;
    triangle_count = loaded->face_count > 0 ? loaded->face_count : 0;

    // The sphere is centred on the centroid and reaches the farthest vertex
    // (measured in double), a little more: a fixed radius would cut off the
    // parts of a mesh that stick out, such as the bunny's ear tips.
    bounds = new sphere;
    bounds->centre = mesh_centroid(*loaded);
    double farthest = 0.0;
    for (int i = 0; i < loaded->vertex_count; ++i) {
        const double dx = static_cast<double>(loaded->vertices[i].x) - bounds->centre.x;
        const double dy = static_cast<double>(loaded->vertices[i].y) - bounds->centre.y;
        const double dz = static_cast<double>(loaded->vertices[i].z) - bounds->centre.z;
        farthest = std::fmax(farthest, std::sqrt(dx * dx + dy * dy + dz * dz));
    }
    bounds->radius = std::nextafter(static_cast<float>(farthest * (1.0 + radius_margin)),
                                    std::numeric_limits<float>::infinity());
    if (loaded->vertex_count <= 0) bounds->radius = 0.0f;

    build_bvh(hierarchy, *loaded);
}

model::~model() {
    delete bounds;
    if (geometry) release_mesh(geometry);
    delete geometry;
}

bool model::may_hit(const ray& r, float distance) const {
    if (triangle_count == 0) return false;
    // In double, so the gate's own rounding is negligible beside the slack.
    const double vx = static_cast<double>(bounds->centre.x) - r.origin.x;
    const double vy = static_cast<double>(bounds->centre.y) - r.origin.y;
    const double vz = static_cast<double>(bounds->centre.z) - r.origin.z;
    const double reach = bounds->radius + origin_slack * (std::fabs(vx) + std::fabs(vy) + std::fabs(vz));
    const double outside = vx * vx + vy * vy + vz * vz - reach * reach;
    // Starting inside, any triangle may lie ahead, however near `distance`
    // and wherever the sphere's far crossing is.
    if (outside <= 0.0) return true;
    const double b = vx * r.direction.x + vy * r.direction.y + vz * r.direction.z;
    if (b <= 0.0) return false;   // heading away from the sphere
    const double disc = b * b - outside;
    if (disc < 0.0) return false;
    // Every point of the sphere lies at or beyond the entry crossing.
    return b - std::sqrt(disc) < static_cast<double>(distance);
}

int model::intersect(const ray& r, float& distance) {
    if (!may_hit(r, distance)) return hit_none;
    bvh_hit hit;
    const int code = intersect_bvh(hierarchy, r, distance, hit);
    if (code != hit_none) last_hit[current_worker].hit = hit;
    return code;
}

vector3 model::get_normal(const vector3&) const {
    return last_hit[current_worker].hit.normal;
}
