#pragma once

#include "mesh/mesh.h"
#include "scene/bvh.h"
#include "scene/object.h"
#include "scene/sphere.h"
#include "scene/triangle.h"
#include "scene/worker.h"

// One worker's memory of a model's latest hit, alone on its cache line so
// that workers recording hits at the same time do not slow each other down.
struct alignas(64) hit_slot {
    triangle* hit = nullptr;
};

// A whole triangle mesh as one scene object: a bounding sphere around the
// mesh, then its triangles. Hits are shaded with the model's own material;
// the triangles' material never reaches the picture.
class model : public object {
public:
    sphere* bounds = nullptr;          // centre at the centroid, radius covering every vertex
    triangle** triangles = nullptr;    // one per face, in face order
    triangle* triangle_block = nullptr;  // where they live, side by side
    mesh* geometry = nullptr;          // kept for the life of the model
    int triangle_count = 0;
    // The triangle of the latest reported hit, one per worker (worker.h).
    hit_slot last_hit[max_workers];
    // Over `triangles`: answers exactly as the linear scan does, only faster.
    bvh hierarchy;

    // Loads "bunny.obj" from the working directory.
    model();
    // Loads the OBJ file at `path`. A file that cannot be opened or is
    // rejected ends the process: one line on standard error, exit status 1.
    explicit model(const char* path);
    // Builds on a mesh that is already loaded, taking it over.
    explicit model(mesh* loaded);
    ~model() override;

    int get_type() const override { return 0; }

    // The bounding-sphere gate, then the triangles through the hierarchy;
    // records the triangle hit for the calling worker.
    int intersect(const ray& r, float& distance) override;

    // The normal of the triangle recorded by the calling worker's latest
    // reported hit.
    vector3 get_normal(const vector3& point) const override;

    // The calling worker's last_hit: null until its first reported hit.
    triangle* recorded_hit() const { return last_hit[current_worker].hit; }

    // False only when no triangle can be hit nearer than `distance`: the ray
    // starts outside the bounding sphere and misses it, or enters it no
    // nearer than `distance`. A ray that starts inside always goes on.
    bool may_hit(const ray& r, float distance) const;

    // The reference scan: every triangle in index order against the caller's
    // `distance`, each accepted hit lowering it. Returns the code of the last
    // triangle that accepted (the nearest; the lowest index among equals) and
    // sets `hit` to it; leaves `distance` and `hit` alone when none did.
    int intersect_linear(const ray& r, float& distance, triangle*& hit);
};

// The mean of the mesh's vertices, summed in single precision in index
// order; (0, 0, 0) for a mesh without vertices.
vector3 mesh_centroid(const mesh& m);
