#pragma once

#include <memory>

#include "bvh/bvh.h"
#include "mesh/mesh.h"
#include "scene/object.h"
#include "scene/sphere.h"
#include "util/worker.h"

// A loaded mesh owned by one pointer: freed (its arrays, then the record)
// however its owner goes, a model that failed to build included.
struct mesh_deleter {
    void operator()(mesh* m) const;
};
using owned_mesh = std::unique_ptr<mesh, mesh_deleter>;

// One worker's memory of a model's latest hit, alone on its cache line so
// that workers recording hits at the same time do not slow each other down.
struct alignas(64) hit_slot {
    bvh_hit hit;  // index -1 until the first hit
};

// A whole triangle mesh as one scene object: a bounding sphere around the
// mesh, then its triangles through the hierarchy. Hits are shaded with the
// model's own material.
class model : public object {
public:
    std::unique_ptr<sphere> bounds;  // centre at the centroid, radius covering every vertex
    owned_mesh geometry;             // kept for the life of the model
    int triangle_count = 0;
    // The triangle of the latest reported hit, one per worker (util/worker.h).
    hit_slot last_hit[util::max_workers];
    // Over the mesh's triangles: answers exactly as testing them one by one
    // in index order does, only faster.
    bvh hierarchy;

    // Builds on a mesh that is already loaded (build_scene loads it),
    // taking it over, the hierarchy by `method`. Throws std::bad_alloc when
    // memory runs out (the mesh is freed then too), std::length_error for
    // more triangles than the hierarchy can hold.
    explicit model(owned_mesh loaded, bvh_method method = bvh_method::automatic);

    int get_type() const override { return 0; }

    // The bounding-sphere gate, then the triangles through the hierarchy;
    // records the triangle hit for the calling worker.
    int intersect(const ray& r, float& distance) override;

    // The same for rays that travel together: the triangles through the
    // hierarchy for all of them at once. The gate is left out: it lets
    // through every ray the hierarchy could answer with a hit, and the
    // hierarchy's first node turns the others away as soon.
    void intersect_packet(const ray_packet& rays, unsigned active, float* distances, int* codes, hit_record* hits) override;

    // The hierarchy for all the rays at once, each stopping at its first
    // hit. Leaves what the model remembers as it was.
    unsigned occluded_packet(const ray_packet& rays, unsigned active, const float* distances) override;

    // The normal of the triangle recorded by the calling worker's latest
    // reported hit.
    vector3 get_normal(const vector3& point) const override;

    // The triangle recorded by the calling worker's latest reported hit.
    surface_hit surface_of_hit(const vector3& point) const override;

    // The mesh index of the triangle the calling worker's latest reported
    // hit landed on; -1 before the first.
    int recorded_hit() const { return last_hit[util::current_worker].hit.index; }

    // False only when no triangle can be hit nearer than `distance`: the ray
    // starts outside the bounding sphere and misses it, or enters it no
    // nearer than `distance`. A ray that starts inside always goes on.
    bool may_hit(const ray& r, float distance) const;
};

// The mean of the mesh's vertices, summed in single precision in index
// order; (0, 0, 0) for a mesh without vertices.
vector3 mesh_centroid(const mesh& m);
