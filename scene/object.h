#pragma once

#include "math/hit_code.h"
#include "math/ray.h"
#include "math/ray_packet.h"
#include "math/vector3.h"
#include "scene/surface_tolerance.h"

// What a reported hit leaves for the tracer: what get_normal and
// surface_of_hit answer for it.
struct hit_record {
    vector3 normal;
    surface_hit surface;
};

// The one class hierarchy of the scene: sphere, plane, triangle and model.
// Every object carries its material ahead of its own geometry; the creator
// assigns the material right after construction.
class object {
public:
    vector3 color;
    vector3 specular;
    float reflection = 0.0f;
    float specular_power = 0.0f;
    float refraction_index = 0.0f;

    object() = default;
    object(const object&) = delete;
    object& operator=(const object&) = delete;
    virtual ~object() = default;

    // Kind code: sphere 0, plane 1, triangle 2; a model answers 0 as well.
    virtual int get_type() const = 0;

    // Reports a hit only when it lies strictly nearer than `distance`; then
    // lowers `distance` to it and returns 1 or -1. A miss returns 0 and
    // leaves `distance` alone.
    virtual int intersect(const ray& r, float& distance) = 0;

    // intersect on each ray k of `rays` whose bit is set in `active`, with
    // distances[k] as its distance: codes[k] gets its code and, for a hit,
    // hits[k] what get_normal and surface_of_hit answer at its hit point,
    // origin + direction·distance, right after it. The object then
    // remembers the hit of the last ray that hit, as after those calls in
    // order. The arrays have room for packet_size rays; only the entries
    // of the rays in `active` are used or changed (the others may be read,
    // so they must hold some value). The default makes those calls; a kind
    // may answer the rays together however it likes, so long as every ray's
    // answer is the same.
    virtual void intersect_packet(const ray_packet& rays, unsigned active, float* distances, int* codes, hit_record* hits);

    // For each ray of `rays` whose bit is set in `active`: whether intersect
    // would report a hit nearer than distances[k]; returns the bits of
    // those that would. Not which hit: a kind may stop at the first it
    // finds. What the object remembers of its latest hit may change. The
    // default asks intersect ray by ray.
    virtual unsigned occluded_packet(const ray_packet& rays, unsigned active, const float* distances);

    // The unit surface normal at the point of the latest reported hit.
    virtual vector3 get_normal(const vector3& point) const = 0;

    // What the shadow rays from `point`, the latest reported hit computed in
    // float, need to allow for the rounding of the surface struck
    // (surface_tolerance.h). Nothing unless a kind says otherwise: a plane
    // or a sphere has no copy of itself in any scene of this program.
    virtual surface_hit surface_of_hit(const vector3& point) const {
        (void)point;
        return {};
    }
};
