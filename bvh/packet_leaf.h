// A packet of four triangles against four rays at once: lane 4j + i holds
// triangle i against ray j. Each lane does packet_hits's operations
// (ray_triangle/packet.h) in its order and precision, with the ray's own
// limit, so ray j's four lanes answer as its own packet_hits call would,
// bit for bit. A leaf meets 3 to 4 of a packet's rays on average: one pass
// here, where packet_hits takes one pass a ray. Part of the packet walk:
// included as packet_lanes.h is, right after it.

#include <cstdint>

#include "ray_triangle/packet.h"

namespace bvh_lanes {

PACKET_INLINE lanes dot3(lanes ax, lanes ay, lanes az, lanes bx, lanes by, lanes bz) { return ax * bx + ay * by + az * bz; }

// Row `r` of the four in `rows` in each group of four lanes.
template <int r>
PACKET_INLINE lanes repeat(lanes rows) {
    return __builtin_shufflevector(rows, rows, 4 * r, 4 * r + 1, 4 * r + 2, 4 * r + 3, 4 * r, 4 * r + 1, 4 * r + 2, 4 * r + 3,
                                   4 * r, 4 * r + 1, 4 * r + 2, 4 * r + 3, 4 * r, 4 * r + 1, 4 * r + 2, 4 * r + 3);
}

// A packet's corners and edges in every group of four lanes, and the
// three edge dot products packet_hits recomputes.
struct repeated_frame {
    lanes vertex[3], edge1[3], edge2[3];
    lanes d11, d22, d12;

    // The packet's rows are read sixteen floats at a time, never past its end.
    PACKET_INLINE explicit repeated_frame(const triangle_packet& p) {
        static_assert(sizeof(triangle_packet) == 14 * sizeof(float[4]), "a packet is fourteen rows of four");
        const lanes rows1 = load(p.vertex[0]), rows2 = load(p.edge1[1]), rows3 = load(p.edge2[0]);
        vertex[0] = repeat<0>(rows1), vertex[1] = repeat<1>(rows1), vertex[2] = repeat<2>(rows1), edge1[0] = repeat<3>(rows1);
        edge1[1] = repeat<0>(rows2), edge1[2] = repeat<1>(rows2), edge2[0] = repeat<2>(rows2), edge2[1] = repeat<3>(rows2);
        edge2[2] = repeat<2>(rows3);
        d11 = dot3(edge1[0], edge1[1], edge1[2], edge1[0], edge1[1], edge1[2]);
        d22 = dot3(edge2[0], edge2[1], edge2[2], edge2[0], edge2[1], edge2[2]);
        d12 = dot3(edge1[0], edge1[1], edge1[2], edge2[0], edge2[1], edge2[2]);
    }
};

// A packet's planes in every group of four lanes. The rest of it is
// spread only once some lane meets a plane within its limit (the rays of
// most leaves meet none).
struct repeated_packet {
    const triangle_packet& source;
    lanes normal[3], offset;

    PACKET_INLINE explicit repeated_packet(const triangle_packet& p) : source(p) {
        const lanes rows0 = load(p.normal[0]);
        normal[0] = repeat<0>(rows0), normal[1] = repeat<1>(rows0), normal[2] = repeat<2>(rows0), offset = repeat<3>(rows0);
    }
};

// The lanes that accept (bit k for lane k), their distances in `t`: the
// rays' origins, directions and limits `o`, `d`, `limit`, ray j's in lanes
// 4j to 4j + 3. The shortcut over the barycentric solve is packet_hits's,
// with its bounds.
PACKET_INLINE unsigned group_hits(const repeated_packet& p, const lanes o[3], const lanes d[3], lanes limit, lanes& t) {
    const lanes den = dot3(p.normal[0], p.normal[1], p.normal[2], d[0], d[1], d[2]);
    unsigned mask = bits_less(den, lanes{});
    if (mask == 0) return 0;
    const lanes facing = dot3(p.normal[0], p.normal[1], p.normal[2], o[0], o[1], o[2]);
    t = (p.offset - facing) / den;
    mask &= bits_less(t, limit);
    mask &= bits_less(lanes{}, t);
    if (mask == 0) return 0;
    const repeated_frame f(p.source);

    // The hit point's offset from corner 0 along the edges.
    lanes w[3];
    for (int a = 0; a < 3; ++a) w[a] = o[a] + d[a] * t - f.vertex[a];
    const lanes a = dot3(w[0], w[1], w[2], f.edge1[0], f.edge1[1], f.edge1[2]);
    const lanes b = dot3(w[0], w[1], w[2], f.edge2[0], f.edge2[1], f.edge2[2]);

    // The barycentric solve in double, lanes 0-7 then 8-15.
    wide num_u[2], num_v[2], det[2];
    unsigned sure_in = 0, sure_out = 0;
    for (int h = 0; h < 2; ++h) {
        const wide da = h ? high_half(a) : low_half(a), db = h ? high_half(b) : low_half(b);
        const wide s11 = h ? high_half(f.d11) : low_half(f.d11), s22 = h ? high_half(f.d22) : low_half(f.d22);
        const wide s12 = h ? high_half(f.d12) : low_half(f.d12);
        det[h] = s11 * s22 - s12 * s12;
        num_u[h] = da * s22 - db * s12;
        num_v[h] = db * s11 - da * s12;
        const wide tiny = det[h] * 0x1p-100;
        const wide sum = num_u[h] + num_v[h];
        sure_in |= (bits(num_u[h] > tiny) & bits(num_v[h] > tiny) & bits(sum < det[h] * (1.0 - 0x1p-20))) << (8 * h);
        sure_out |= (bits(num_u[h] <= 0.0) | bits(num_v[h] <= 0.0) | bits(sum > det[h] * (1.0 + 0x1p-20))) << (8 * h);
    }
    if ((mask & ~(sure_in | sure_out)) == 0) return mask & sure_in;

    // Some lane is too close to call: u and v as the scalar test rounds them.
    const lanes u = narrow(num_u[0] / det[0], num_u[1] / det[1]);
    const lanes v = narrow(num_v[0] / det[0], num_v[1] / det[1]);
    mask &= bits(u > 0.0f) & bits(v > 0.0f) & bits(u < 1.0f) & bits(v < 1.0f);
    mask &= bits(low_half(u) + low_half(v) < 1.0) | bits(high_half(u) + high_half(v) < 1.0) << 8;
    return mask;
}

}  // namespace bvh_lanes
