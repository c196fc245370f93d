#include "scene/model.h"

#include <cmath>

#include "math/float_step.h"
#include "mesh/mesh.h"
#include "util/slots.h"

namespace {

// Slack of the gate, relative to the ray origin's distance from the centre:
// covers directions a few units of 2^-24 off unit length, and the
// cancellation in the gate's own double arithmetic far from the sphere.
constexpr double gate_slack = 4e-6;

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

void mesh_deleter::operator()(mesh* m) const {
    release_mesh(m);
    delete m;
}

// Whatever fails from here on (out of memory), the members built so far go
// with the model, the mesh among them.
model::model(owned_mesh loaded, bvh_method method) : geometry(std::move(loaded)) {
    triangle_count = geometry->face_count > 0 ? geometry->face_count : 0;
    build_bvh(hierarchy, *geometry, 0, method);

    // The sphere is centred on the centroid and holds the root's boxes,
    // which hold every point any triangle's test can accept: a fixed radius
    // would cut off the parts of a mesh that stick out, such as the bunny's
    // ear tips.
    bounds = std::make_unique<sphere>();
    bounds->centre = mesh_centroid(*geometry);
    if (hierarchy.nodes.empty()) return;
    const bvh_node& root = hierarchy.nodes[0];
    double farthest = 0.0;
    for (int k = 0; k < root.child_count; ++k) {
        double squared = 0.0;
        for (int a = 0; a < 3; ++a) {
            const double c = (&bounds->centre.x)[a];
            const double side = std::fmax(std::fabs(root.lo(a, k) - c), std::fabs(root.hi(a, k) - c));
            squared += side * side;
        }
        farthest = std::fmax(farthest, std::sqrt(squared));
    }
    bounds->radius = next_float_up(static_cast<float>(farthest));
}

bool model::may_hit(const ray& r, float distance) const {
    if (hierarchy.nodes.empty()) return false;
    // An accepted hit lies within the ray's allowance of the root's boxes
    // (bvh/reach.h), hence of the sphere; the gate itself works in double.
    const double vx = static_cast<double>(bounds->centre.x) - r.origin.x;
    const double vy = static_cast<double>(bounds->centre.y) - r.origin.y;
    const double vz = static_cast<double>(bounds->centre.z) - r.origin.z;
    const double reach = bounds->radius + static_cast<double>(ray_allowance(r.origin)) +
                         gate_slack * (std::fabs(vx) + std::fabs(vy) + std::fabs(vz));
    const double outside = vx * vx + vy * vy + vz * vz - reach * reach;
    // Starting inside, any triangle may lie ahead, however near `distance`
    // and wherever the sphere's far crossing is.
    if (outside <= 0.0) return true;
    const double b = vx * r.direction.x + vy * r.direction.y + vz * r.direction.z;
    if (b <= 0.0) return false;   // heading away from the sphere
    const double disc = b * b - outside;
    if (disc < 0.0) return false;
    // Every point of the sphere lies at or beyond the entry crossing,
    // b - sqrt(disc): it is nearer than `distance` when b - distance is
    // negative or its square is below disc (no square root to wait for).
    const double ahead = b - static_cast<double>(distance);
    return ahead < 0.0 || ahead * ahead < disc;
}

int model::intersect(const ray& r, float& distance) {
    if (!may_hit(r, distance)) return hit_none;
    bvh_hit hit;
    const int code = intersect_bvh(hierarchy, r, distance, hit);
    if (code != hit_none) last_hit[util::current_worker].hit = hit;
    return code;
}

void model::intersect_packet(const ray_packet& rays, unsigned active, float* distances, int* codes, hit_record* hits) {
    for (unsigned left = active; left != 0; left &= left - 1) codes[__builtin_ctz(left)] = hit_none;
    util::slots<bvh_hit, packet_size> found;
    const unsigned hit = intersect_bvh_packet(hierarchy, rays, active, distances, found.data());
    for (unsigned left = hit; left != 0; left &= left - 1) {
        const int k = __builtin_ctz(left);
        codes[k] = hit_outside;
        const ray r = rays.get(k);
        hits[k] = {found[k].normal, {geometry.get(), found[k].index, r.origin + r.direction * distances[k]}};
    }
    if (hit != 0) last_hit[util::current_worker].hit = found[31 - __builtin_clz(hit)];
}

unsigned model::occluded_packet(const ray_packet& rays, unsigned active, const float* distances) {
    return occluded_bvh_packet(hierarchy, rays, active, distances);
}

vector3 model::get_normal(const vector3&) const {
    return last_hit[util::current_worker].hit.normal;
}

surface_hit model::surface_of_hit(const vector3& point) const {
    const int k = last_hit[util::current_worker].hit.index;
    if (k < 0) return {};
    return {geometry.get(), k, point};
}
