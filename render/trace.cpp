#include "render/trace.h"

#include <cmath>

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
    hit_tolerance tolerance;

    const hit_tolerance& get() {
        if (!ready) tolerance = triangle_tolerance(hit);
        ready = true;
        return tolerance;
    }
};

// True when some object lies strictly nearer than `bound` along `shadow`;
// the first one found ends the search. An object whose nearest meeting
// lies within the reach of the struck point and faces against the struck
// triangle may be the surface's own other side, which cannot be told from
// the lit point (surface_tolerance.h): it is asked again from the far end
// of the reach. Off anything but a triangle every meeting counts.
bool occluded(scene* s, const ray& shadow, lazy_tolerance& struck, float bound) {
    for (int i = 0; i < s->object_count; ++i) {
        object& o = *s->objects[i];
        float t = bound;
        if (o.intersect(shadow, t) == hit_none) continue;
        if (!struck.hit.geometry) return true;
        const hit_tolerance& tolerance = struck.get();
        const float reach = shadow_reach(tolerance, shadow.direction);
        if (t > reach) return true;
        if (!may_be_copy(tolerance, o.get_normal(shadow.origin + shadow.direction * t))) return true;
        if (!(reach < bound)) continue;
        const ray beyond{shadow.origin + shadow.direction * reach, shadow.direction};
        float rest = bound - reach;
        if (o.intersect(beyond, rest) != hit_none) return true;
    }
    return false;
}

// Diffuse and specular light of every unshadowed light in front of the
// struck point, scaled by the current weight.
void shade(scene* s, const object& struck, const vector3& p, const vector3& n, const surface_hit& surface,
           const vector3& view, float weight, vector3* accumulator) {
    lazy_tolerance tolerance(surface);
    for (int i = 0; i < s->light_count; ++i) {
        const light& lamp = *s->lights[i];
        const vector3 to_light = lamp.position - p;
        if (!(dot(n, to_light) > 0.0f)) continue;
        const float s2 = dot(to_light, to_light);
        if (!(s2 > 0.0f)) continue;
        const float light_distance = rounded_sqrt(s2);
        const vector3 l = to_light * (1.0f / light_distance);

        // Bounded by this light's own distance: what lies beyond the light
        // casts no shadow on P, whatever the viewer's position.
        if (occluded(s, ray{p, l}, tolerance, light_distance)) continue;

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

    if (struck->reflection > 0.0f) {
        *weight = *weight * struck->reflection;
        const float d = dot(n, r.direction);
        const vector3 mirrored = r.direction - (2.0f * d) * n;
        // The new ray starts a whole direction length off the surface.
        const ray reflected{p + mirrored, mirrored};
        *depth = *depth + 1;
        trace_chain(s, depth, max_depth, weight, accumulator, struck->refraction_index, reflected,
                    refractions_left);
        return struck;
    }

    if (struck->refraction_index > 0.0f) {
        if (refractions_left <= 0) return struck;
        const float eta = medium_index / struck->refraction_index;
        // From inside (code -1) the outward normal is turned against the ray.
        const float h = static_cast<float>(code);
        const vector3 nn = h * n;
        const float c = -dot(nn, r.direction);
        // Carried in double within the step; only k itself is rounded.
        const double eta_d = eta;
        const double c_d = c;
        const float k = static_cast<float>(1.0 - eta_d * eta_d * (1.0 - c_d * c_d));
        // Total internal reflection ends the chain here.
        if (!(k > 0.0f)) return struck;
        const float q = eta * c - rounded_sqrt(k);
        const vector3 t = eta * r.direction + q * nn;
        const ray refracted{p + t * refraction_offset, t};
        trace_chain(s, depth, max_depth, weight, accumulator, struck->refraction_index, refracted,
                    refractions_left - 1);
        return struck;
    }

    return struck;
}

}  // namespace

object* trace_ray(scene* s, int* depth, int max_depth, float* weight, vector3* accumulator,
                  float medium_index, const ray& r) {
    return trace_chain(s, depth, max_depth, weight, accumulator, medium_index, r, max_refractions);
}
