#include "render/trace.h"

#include <cmath>
#include <new>

#include "math/float_step.h"
#include "util/slots.h"

// Two ways through the same steps: trace_chain follows one ray and its
// secondary rays by recursion; trace_packet follows up to packet_size
// primary rays together, asking each object about all of them at once,
// and each ray through the very same steps, so that every ray comes out as
// trace_chain would have it, bit for bit.

namespace {

// Far limit of every ray: nothing this far away or farther is struck.
constexpr float far_limit = 150000.0f;

// A refracted ray starts this fraction of its direction past the surface,
// just enough to leave it behind.
constexpr float refraction_offset = 0.0001f;

// Refractions do not raise the depth counter, so facing refractive surfaces
// could pass a ray back and forth until the stack runs out; no sensible
// scene needs more than a handful per primary ray.
constexpr int max_refractions = 64;

// The struck triangle's tolerance, worked out only once a shadow ray meets
// something: most meet nothing.
struct lazy_tolerance {
    explicit lazy_tolerance(const surface_hit& h) : hit(h) {}
    const surface_hit& hit;
    bool ready = false;
    // Left unmade (its fields are worth a few cache lines of zeros) until
    // a shadow ray needs it.
    union {
        hit_tolerance tolerance;
    };

    const hit_tolerance& get() {
        if (!ready) ::new (static_cast<void*>(&tolerance)) hit_tolerance(triangle_tolerance(hit));
        ready = true;
        return tolerance;
    }
};

// Whether the nearest meeting of object `o` with `shadow`, at `t` below
// `bound`, shadows the struck point. Off anything but a triangle every
// meeting does. One within the reach of the struck point that faces
// against the struck triangle (`facing()`: o's normal there) may be the
// surface's own other side, which cannot be told from the lit point
// (surface_tolerance.h): then what o meets beyond the reach decides.
template <typename facing_type>
bool meeting_shadows(object& o, const ray& shadow, float t, const facing_type& facing, lazy_tolerance& struck,
                     float bound) {
    if (!struck.hit.geometry) return true;
    const hit_tolerance& tolerance = struck.get();
    const float reach = shadow_reach(tolerance, shadow.direction);
    if (t > reach) return true;
    if (!may_be_copy(tolerance, facing())) return true;
    if (!(reach < bound)) return false;
    const ray beyond{shadow.origin + shadow.direction * reach, shadow.direction};
    float rest = bound - reach;
    return o.intersect(beyond, rest) != hit_none;
}

// True when some object lies strictly nearer than `bound` along `shadow`;
// the first one found ends the search.
bool occluded(scene* s, const ray& shadow, lazy_tolerance& struck, float bound) {
    for (int i = 0; i < s->object_count; ++i) {
        object& o = *s->objects[i];
        float t = bound;
        if (o.intersect(shadow, t) == hit_none) continue;
        const auto facing = [&] { return o.get_normal(shadow.origin + shadow.direction * t); };
        if (meeting_shadows(o, shadow, t, facing, struck, bound)) return true;
    }
    return false;
}

// The direction `l` and distance to `lamp` from the struck point `p` with
// normal `n`; false when the lamp lies behind the surface or at the point,
// and adds nothing.
bool toward_light(const light& lamp, const vector3& p, const vector3& n, vector3& l, float& distance) {
    const vector3 to_light = lamp.position - p;
    if (!(dot(n, to_light) > 0.0f)) return false;
    const float s2 = dot(to_light, to_light);
    if (!(s2 > 0.0f)) return false;
    distance = rounded_sqrt(s2);
    l = to_light * (1.0f / distance);
    return true;
}

// The diffuse and specular light of an unshadowed lamp, scaled by the
// current weight.
void add_light(const object& struck, const light& lamp, const vector3& n, const vector3& l, const vector3& view,
               float weight, vector3* accumulator) {
    const float f = dot(n, l) * weight;
    const float a_r = f * struck.color.x;
    const float a_g = f * struck.color.y;
    const float a_b = f * struck.color.z;
    accumulator->x = accumulator->x + lamp.color.x * a_r;
    accumulator->y = accumulator->y + lamp.color.y * a_g;
    accumulator->z = accumulator->z + lamp.color.z * a_b;

    const float twice_cos = dot(n, l) * 2.0f;
    const vector3 mirrored = l - twice_cos * n;
    float v = dot(view, mirrored);
    if (!(v > 0.0f)) v = 0.0f;
    // pow(+0, y) is exactly +0 for every y > 0: no call for a point that
    // faces away from the mirror direction.
    const float highlight =
        v > 0.0f || !(struck.specular_power > 0.0f)
            ? static_cast<float>(std::pow(static_cast<double>(v), static_cast<double>(struck.specular_power)))
            : 0.0f;
    const float g = highlight * weight;
    accumulator->x = accumulator->x + struck.specular.x * g;
    accumulator->y = accumulator->y + struck.specular.y * g;
    accumulator->z = accumulator->z + struck.specular.z * g;
}

// Diffuse and specular light of every unshadowed light in front of the
// struck point, scaled by the current weight. Each shadow ray is bounded by
// its light's own distance: what lies beyond the light casts no shadow on
// the point, whatever the viewer's position.
void shade(scene* s, const object& struck, const vector3& p, const vector3& n, const surface_hit& surface,
           const vector3& view, float weight, vector3* accumulator) {
    lazy_tolerance tolerance(surface);
    for (int i = 0; i < s->light_count; ++i) {
        const light& lamp = *s->lights[i];
        vector3 l;
        float light_distance;
        if (!toward_light(lamp, p, n, l, light_distance)) continue;
        if (occluded(s, ray{p, l}, tolerance, light_distance)) continue;
        add_light(struck, lamp, n, l, view, weight, accumulator);
    }
}

// What a struck surface sends on.
enum class onward { nothing, reflected, refracted };

// The ray the surface struck at `p` (normal `n`, hit code `code`) sends on
// into `next`: a mirror reflection, for which the weight is scaled and the
// depth counter raised, or else a refraction; nothing at total internal
// reflection or off a surface that does neither.
onward secondary_ray(const object& struck, int code, const vector3& p, const vector3& n, const ray& r,
                     float medium_index, int* depth, float* weight, ray& next) {
    if (struck.reflection > 0.0f) {
        *weight = *weight * struck.reflection;
        const float d = dot(n, r.direction);
        const vector3 mirrored = r.direction - (2.0f * d) * n;
        // The new ray starts a whole direction length off the surface.
        next = {p + mirrored, mirrored};
        *depth = *depth + 1;
        return onward::reflected;
    }
    if (struck.refraction_index > 0.0f) {
        const float eta = medium_index / struck.refraction_index;
        // From inside (code -1) the outward normal is turned against the ray.
        const float h = static_cast<float>(code);
        const vector3 nn = h * n;
        const float c = -dot(nn, r.direction);
        // Carried in double within the step; only k itself is rounded.
        const double eta_d = eta;
        const double c_d = c;
        const float k = static_cast<float>(1.0 - eta_d * eta_d * (1.0 - c_d * c_d));
        // Total internal reflection ends the chain here.
        if (!(k > 0.0f)) return onward::nothing;
        const float q = eta * c - rounded_sqrt(k);
        const vector3 t = eta * r.direction + q * nn;
        next = {p + t * refraction_offset, t};
        return onward::refracted;
    }
    return onward::nothing;
}

object* trace_chain(scene* s, int* depth, int max_depth, float* weight, vector3* accumulator,
                    float medium_index, const ray& r, int refractions_left) {
    if (*depth > max_depth) return nullptr;

    float nearest = far_limit;
    object* struck = nullptr;
    int code = hit_none;
    for (int i = 0; i < s->object_count; ++i) {
        const int c = s->objects[i]->intersect(r, nearest);
        if (c != hit_none) {
            struck = s->objects[i];
            code = c;
        }
    }
    if (struck == nullptr) return nullptr;

    const vector3 p = r.origin + r.direction * nearest;
    // Asked once, before any shadow ray: a model answers from its latest
    // hit, which a shadow test may change.
    const vector3 n = struck->get_normal(p);
    const surface_hit surface = struck->surface_of_hit(p);

    shade(s, *struck, p, n, surface, r.direction, *weight, accumulator);

    ray next;
    switch (secondary_ray(*struck, code, p, n, r, medium_index, depth, weight, next)) {
    case onward::reflected:
        trace_chain(s, depth, max_depth, weight, accumulator, struck->refraction_index, next, refractions_left);
        break;
    case onward::refracted:
        if (refractions_left > 0)
            trace_chain(s, depth, max_depth, weight, accumulator, struck->refraction_index, next, refractions_left - 1);
        break;
    case onward::nothing: break;
    }
    return struck;
}

// ---- packets ------------------------------------------------------------------

// The rays of a packet whose bits are set.
template <typename body_type>
void each(unsigned rays, const body_type& body) {
    for (; rays != 0; rays &= rays - 1) body(__builtin_ctz(rays));
}

// occluded for the shadow rays of a packet whose bits are set in `rays`,
// each object asked about all of them at once: the bits of those that
// are shadowed. Off a surface that is no triangle any meeting shadows, and
// the objects need only say whether they are met. Off a triangle, a
// meeting beyond the reach shadows too (meeting_shadows), so the objects
// are first asked only whether the rays meet them, which they may answer
// at the first meeting they find; only the rays met are then asked for
// their nearest meeting within the reach (hits strictly nearer than the
// float above it: the same nearest hit, if it lies there, as when asked
// up to the light), the one meeting_shadows weighs. None there: the
// nearest lies beyond the reach.
unsigned occluded_packet(scene* s, const ray_packet& shadows, unsigned rays, lazy_tolerance* struck, const float* bounds) {
    unsigned plain = 0;
    each(rays, [&](int k) {
        if (!struck[k].hit.geometry) plain |= 1u << k;
    });
    unsigned on_triangles = rays & ~plain;
    unsigned shadowed = 0;
    for (int i = 0; i < s->object_count && (plain | on_triangles) != 0; ++i) {
        object& o = *s->objects[i];
        if (plain != 0) {
            const unsigned met = o.occluded_packet(shadows, plain, bounds);
            shadowed |= met;
            plain &= ~met;
        }
        if (on_triangles == 0) continue;
        const unsigned met = o.occluded_packet(shadows, on_triangles, bounds);
        if (met == 0) continue;
        float t[packet_size];
        int codes[packet_size];
        util::slots<hit_record, packet_size> hits;
        for (int k = 0; k < packet_size; ++k) t[k] = bounds[k];
        each(met, [&](int k) {
            const float reach = shadow_reach(struck[k].get(), shadows.get(k).direction);
            if (reach < bounds[k]) t[k] = next_float_up(reach);
        });
        o.intersect_packet(shadows, met, t, codes, hits.data());
        each(met, [&](int k) {
            if (codes[k] != hit_none) {
                const auto facing = [&] { return hits[k].normal; };
                if (!meeting_shadows(o, shadows.get(k), t[k], facing, struck[k], bounds[k])) return;
            }
            shadowed |= 1u << k;
            on_triangles &= ~(1u << k);
        });
    }
    return shadowed;
}

// One primary ray's chain, as trace_chain keeps it in its arguments.
struct chain_state {
    int depth = 0;
    float weight = 1.0f;
    float medium_index = 0.0f;
};

}  // namespace

object* trace_ray(scene* s, int* depth, int max_depth, float* weight, vector3* accumulator,
                  float medium_index, const ray& r) {
    return trace_chain(s, depth, max_depth, weight, accumulator, medium_index, r, max_refractions);
}

void trace_packet(scene* s, int max_depth, float medium_index, const ray* primary, int count, vector3* accumulators) {
    ray_packet rays;
    chain_state chains[packet_size];
    unsigned live = count >= packet_size ? (1u << packet_size) - 1 : (1u << count) - 1;
    each(live, [&](int k) {
        rays.set(k, primary[k]);
        chains[k].medium_index = medium_index;
    });
    // Each pass takes the live rays one step along their chains: the
    // nearest hit, the lights, the ray sent on.
    while (live != 0) {
        each(live, [&](int k) {
            if (chains[k].depth > max_depth) live &= ~(1u << k);
        });

        // Each object's hits overwrite the records of the rays it meets
        // nearer: what stays is the struck object's.
        float nearest[packet_size];
        object* struck[packet_size];
        int code[packet_size];
        util::slots<hit_record, packet_size> record;
        for (int k = 0; k < packet_size; ++k) {
            nearest[k] = far_limit;
            struck[k] = nullptr;
        }
        for (int i = 0; i < s->object_count && live != 0; ++i) {
            int codes[packet_size];
            s->objects[i]->intersect_packet(rays, live, nearest, codes, record.data());
            each(live, [&](int k) {
                if (codes[k] == hit_none) return;
                struck[k] = s->objects[i];
                code[k] = codes[k];
            });
        }
        each(live, [&](int k) {
            if (struck[k] == nullptr) live &= ~(1u << k);
        });

        util::slots<ray, packet_size> traced;
        util::slots<vector3, packet_size> p;
        each(live, [&](int k) {
            const ray& r = traced.put(k, rays.get(k));
            p.put(k, r.origin + r.direction * nearest[k]);
        });
        // The lights in order, each with the shadow rays of the whole packet.
        util::slots<lazy_tolerance, packet_size> tolerances;
        each(live, [&](int k) { ::new (static_cast<void*>(&tolerances.data()[k])) lazy_tolerance(record[k].surface); });
        for (int i = 0; i < s->light_count; ++i) {
            const light& lamp = *s->lights[i];
            ray_packet shadows;
            util::slots<vector3, packet_size> toward;
            float bounds[packet_size] = {};
            unsigned lit = 0;
            each(live, [&](int k) {
                vector3 l;
                if (!toward_light(lamp, p[k], record[k].normal, l, bounds[k])) return;
                shadows.set(k, {p[k], l});
                toward.put(k, l);
                lit |= 1u << k;
            });
            lit &= ~occluded_packet(s, shadows, lit, tolerances.data(), bounds);
            each(lit, [&](int k) {
                add_light(*struck[k], lamp, record[k].normal, toward[k], traced[k].direction, chains[k].weight,
                          &accumulators[k]);
            });
        }

        // Reflections stay in the packet; a refraction finishes its chain
        // on its own.
        each(live, [&](int k) {
            chain_state& c = chains[k];
            ray next;
            const onward on = secondary_ray(*struck[k], code[k], p[k], record[k].normal, traced[k], c.medium_index,
                                            &c.depth, &c.weight, next);
            c.medium_index = struck[k]->refraction_index;
            if (on == onward::reflected) {
                rays.set(k, next);
                return;
            }
            live &= ~(1u << k);
            if (on == onward::refracted)
                trace_chain(s, &c.depth, max_depth, &c.weight, &accumulators[k], c.medium_index, next, max_refractions - 1);
        });
    }
}
