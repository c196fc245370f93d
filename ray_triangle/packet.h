#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "math/ray.h"

// Four single-precision triangles side by side, lane by lane, so that one
// ray meets all four in one pass of vector instructions. Each lane holds
// the fields of intersect_regular (regular.h) but the three edge dot
// products, which are recomputed the same way. An empty lane has the zero
// normal, which no ray meets from the front, and index -1.
struct alignas(16) triangle_packet {
    float normal[3][4];
    float offset[4];
    float vertex[3][4];  // corner 0
    float edge1[3][4];
    float edge2[3][4];
    std::int32_t index[4];  // the triangle's index in the mesh
};

// A ray's origin and direction, each component in all four lanes.
struct ray_lanes {
    __m128 origin[3];
    __m128 direction[3];

    explicit ray_lanes(const ray& r) {
        origin[0] = _mm_set1_ps(r.origin.x);
        origin[1] = _mm_set1_ps(r.origin.y);
        origin[2] = _mm_set1_ps(r.origin.z);
        direction[0] = _mm_set1_ps(r.direction.x);
        direction[1] = _mm_set1_ps(r.direction.y);
        direction[2] = _mm_set1_ps(r.direction.z);
    }
};

// intersect_regular on the four lanes at once, against the distance
// `limit`: returns the mask of the lanes that accept (bit k for lane k) and
// their distances in `t`. Every operation is the scalar test's, in its
// order and precision, so each lane answers as the scalar test would, bit
// for bit. The one shortcut: the scalar test accepts when u and v, each
// the double quotient num/det rounded to float, are above 0 and their sum
// below 1. With det > 0, num_u and num_v above det·2^-100 put both
// quotients above 2^-100, whose roundings are positive; a sum of
// numerators below det·(1 - 2^-20) puts the rounded sum below 1 even after
// three roundings of relative size 2^-24 or less. Numerators at or below 0,
// or summing above det·(1 + 2^-20), fail as surely. Only what lies between
// is worked out as the scalar test does.
inline int packet_hits(const triangle_packet& p, const ray_lanes& r, __m128 limit, __m128* t_out) {
    const __m128 zero = _mm_setzero_ps();
    auto dot3 = [](__m128 ax, __m128 ay, __m128 az, __m128 bx, __m128 by, __m128 bz) {
        return _mm_add_ps(_mm_add_ps(_mm_mul_ps(ax, bx), _mm_mul_ps(ay, by)), _mm_mul_ps(az, bz));
    };
    const __m128 nx = _mm_load_ps(p.normal[0]), ny = _mm_load_ps(p.normal[1]), nz = _mm_load_ps(p.normal[2]);
    const __m128 den = dot3(nx, ny, nz, r.direction[0], r.direction[1], r.direction[2]);
    int mask = _mm_movemask_ps(_mm_cmplt_ps(den, zero));
    if (mask == 0) return 0;

    const __m128 facing = dot3(nx, ny, nz, r.origin[0], r.origin[1], r.origin[2]);
    const __m128 t = _mm_div_ps(_mm_sub_ps(_mm_load_ps(p.offset), facing), den);
    mask &= _mm_movemask_ps(_mm_and_ps(_mm_cmplt_ps(t, limit), _mm_cmpgt_ps(t, zero)));
    if (mask == 0) return 0;

    // The hit point and its offset from corner 0.
    const __m128 wx = _mm_sub_ps(_mm_add_ps(r.origin[0], _mm_mul_ps(r.direction[0], t)), _mm_load_ps(p.vertex[0]));
    const __m128 wy = _mm_sub_ps(_mm_add_ps(r.origin[1], _mm_mul_ps(r.direction[1], t)), _mm_load_ps(p.vertex[1]));
    const __m128 wz = _mm_sub_ps(_mm_add_ps(r.origin[2], _mm_mul_ps(r.direction[2], t)), _mm_load_ps(p.vertex[2]));
    const __m128 e1x = _mm_load_ps(p.edge1[0]), e1y = _mm_load_ps(p.edge1[1]), e1z = _mm_load_ps(p.edge1[2]);
    const __m128 e2x = _mm_load_ps(p.edge2[0]), e2y = _mm_load_ps(p.edge2[1]), e2z = _mm_load_ps(p.edge2[2]);
    const __m128 a = dot3(wx, wy, wz, e1x, e1y, e1z);
    const __m128 b = dot3(wx, wy, wz, e2x, e2y, e2z);
    const __m128 d11 = dot3(e1x, e1y, e1z, e1x, e1y, e1z);
    const __m128 d22 = dot3(e2x, e2y, e2z, e2x, e2y, e2z);
    const __m128 d12 = dot3(e1x, e1y, e1z, e2x, e2y, e2z);

    // The barycentric solve in double, lanes 0-1 then 2-3: the numerators of
    // u and v over the determinant, which is positive for every triangle
    // that gets this test. Where the numerators leave no doubt (the bounds
    // over packet_hits) the divisions and roundings need not be done;
    // only points within about 2^-20 of an edge take them.
    __m128d num_u[2], num_v[2], det[2];
    int sure_in = 0, sure_out = 0;
    for (int h = 0; h < 2; ++h) {
        auto widen = [h](__m128 x) { return _mm_cvtps_pd(h == 0 ? x : _mm_movehl_ps(x, x)); };
        const __m128d da = widen(a), db = widen(b), s11 = widen(d11), s22 = widen(d22), s12 = widen(d12);
        det[h] = _mm_sub_pd(_mm_mul_pd(s11, s22), _mm_mul_pd(s12, s12));
        num_u[h] = _mm_sub_pd(_mm_mul_pd(da, s22), _mm_mul_pd(db, s12));
        num_v[h] = _mm_sub_pd(_mm_mul_pd(db, s11), _mm_mul_pd(da, s12));
        const __m128d tiny = _mm_mul_pd(det[h], _mm_set1_pd(0x1p-100));
        const __m128d sum = _mm_add_pd(num_u[h], num_v[h]);
        const __m128d in = _mm_and_pd(_mm_and_pd(_mm_cmpgt_pd(num_u[h], tiny), _mm_cmpgt_pd(num_v[h], tiny)),
                                      _mm_cmplt_pd(sum, _mm_mul_pd(det[h], _mm_set1_pd(1.0 - 0x1p-20))));
        const __m128d zero_d = _mm_setzero_pd();
        const __m128d out = _mm_or_pd(_mm_or_pd(_mm_cmple_pd(num_u[h], zero_d), _mm_cmple_pd(num_v[h], zero_d)),
                                      _mm_cmpgt_pd(sum, _mm_mul_pd(det[h], _mm_set1_pd(1.0 + 0x1p-20))));
        sure_in |= _mm_movemask_pd(in) << (2 * h);
        sure_out |= _mm_movemask_pd(out) << (2 * h);
    }
    if ((mask & ~(sure_in | sure_out)) == 0) {
        *t_out = t;
        return mask & sure_in;
    }

    // Some lane is too close to call: u and v as the scalar test rounds them.
    __m128 u_half[2], v_half[2];
    __m128d sum_ok[2];
    for (int h = 0; h < 2; ++h) {
        u_half[h] = _mm_cvtpd_ps(_mm_div_pd(num_u[h], det[h]));
        v_half[h] = _mm_cvtpd_ps(_mm_div_pd(num_v[h], det[h]));
        sum_ok[h] = _mm_cmplt_pd(_mm_add_pd(_mm_cvtps_pd(u_half[h]), _mm_cvtps_pd(v_half[h])), _mm_set1_pd(1.0));
    }
    const __m128 u = _mm_movelh_ps(u_half[0], u_half[1]);
    const __m128 v = _mm_movelh_ps(v_half[0], v_half[1]);
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 inside = _mm_and_ps(_mm_and_ps(_mm_cmpgt_ps(u, zero), _mm_cmpgt_ps(v, zero)),
                                     _mm_and_ps(_mm_cmplt_ps(u, one), _mm_cmplt_ps(v, one)));
    mask &= _mm_movemask_ps(inside) & (_mm_movemask_pd(sum_ok[0]) | (_mm_movemask_pd(sum_ok[1]) << 2));
    *t_out = t;
    return mask;
}
