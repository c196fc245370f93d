#pragma once

// The triangle as its description gives it, step by step, on exact
// arithmetic (exact.h): the reference the single-precision test must match
// bit for bit. It shares no code with ray_triangle/ or math/.
//
// Every named value is rounded when it is formed: each single-precision
// operation (a product, a sum, a quotient, the square root) is one
// rounding to float of its exact result, as the system's arithmetic does
// it; the barycentric solve, which the description holds in double, rounds
// each of its steps to double, and u and v then to float. The rounding is
// the oracle's own (exact.h), from the exact value of each step.

#include "tests/support/exact.h"

namespace described {

struct vec {
    float x, y, z;
};

inline vec minus(const vec& a, const vec& b) {
    using namespace exact;
    return {sub_f(a.x, b.x), sub_f(a.y, b.y), sub_f(a.z, b.z)};
}

// dot(a, b) = a.x·b.x + a.y·b.y + a.z·b.z, left to right.
inline float dot(const vec& a, const vec& b) {
    using namespace exact;
    return add_f(add_f(mul_f(a.x, b.x), mul_f(a.y, b.y)), mul_f(a.z, b.z));
}

// The face record's normal: (Q - P) × (R - P), each component a float.
inline vec face_normal(const vec corner[3]) {
    using namespace exact;
    const vec e1 = minus(corner[1], corner[0]), e2 = minus(corner[2], corner[0]);
    return {sub_f(mul_f(e1.y, e2.z), mul_f(e1.z, e2.y)), sub_f(mul_f(e1.z, e2.x), mul_f(e1.x, e2.z)),
            sub_f(mul_f(e1.x, e2.y), mul_f(e1.y, e2.x))};
}

struct triangle {
    vec vertex[3];
    vec normal;
    float offset;
    vec edge1, edge2;
    float dot11, dot22, dot12;
    // Whether the description's normalisation is defined here: the squared
    // length of the face normal a normal float. (Outside it the system
    // scales by a power of two first; the description's steps would make
    // infinities or zeros.)
    bool defined;

    triangle(const vec corner[3], const vec& face) {
        using namespace exact;
        for (int i = 0; i < 3; ++i) vertex[i] = corner[i];
        edge1 = minus(corner[1], corner[0]);
        edge2 = minus(corner[2], corner[0]);
        // normalize: one square root, one reciprocal, three products.
        const float squared = dot(face, face);
        defined = std::isnormal(squared);
        const float inv = div_f(1.0f, sqrt_to_float(squared));
        normal = {mul_f(face.x, inv), mul_f(face.y, inv), mul_f(face.z, inv)};
        offset = dot(normal, corner[0]);
        dot11 = dot(edge1, edge1);
        dot22 = dot(edge2, edge2);
        dot12 = dot(edge1, edge2);
    }

    // Steps 1 to 9 of the test: 0 or 1, `distance` lowered on a hit.
    int intersect(const vec& o, const vec& d, float& distance) const {
        using namespace exact;
        const float den = dot(normal, d);
        if (real(den) >= real(0.0)) return 0;
        const float t = div_f(sub_f(offset, dot(normal, o)), den);
        if (!(real(t) < real(distance))) return 0;
        if (!(real(t) > real(0.0))) return 0;
        const vec p{add_f(o.x, mul_f(t, d.x)), add_f(o.y, mul_f(t, d.y)), add_f(o.z, mul_f(t, d.z))};
        const vec w = minus(p, vertex[0]);
        const double det = sub_d(mul_d(dot11, dot22), mul_d(dot12, dot12));
        const float a = dot(w, edge1), b = dot(w, edge2);
        const float u = to_float(real(div_d(sub_d(mul_d(a, dot22), mul_d(b, dot12)), det)));
        const float v = to_float(real(div_d(sub_d(mul_d(b, dot11), mul_d(a, dot12)), det)));
        const real zero(0.0), one(1.0);
        if (!(real(u) > zero && real(v) > zero && real(u) < one && real(v) < one)) return 0;
        if (!(real(add_d(u, v)) < one)) return 0;
        distance = t;
        return 1;
    }
};

}  // namespace described
