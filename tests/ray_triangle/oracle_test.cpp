// The triangle tests against an oracle of their own (tests/support/): the
// described single-precision test evaluated on exact arithmetic, and the
// bounds of docs/triangle-bounds.md measured exactly from the float inputs.
// Triangles run from fat to collinear and from 2^-100 to 2^100 in size and
// place; rays go through interiors, along and across edges, at corners, on
// exact edge points, grazing, from far away and from behind.

#include <gtest/gtest.h>
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "bvh/packet_isa.h"
#include "math/ray.h"
#include "ray_triangle/packet.h"
#include "scene/triangle.h"
#include "tests/support/described_triangle.h"
#include "tests/support/exact_geometry.h"
#include "tests/support/slow_build.h"
#include "tests/support/triangle_families.h"

// A leaf's test of four rays at once as the packet walks compile it, for
// the baseline and for AVX-512: the triangles of `p` against ray `r` in
// every group of four lanes.
#define GROUP_HITS_OF_ONE_RAY                                                                                   \
    unsigned group_hits(const triangle_packet& p, const ray& r, float limit, float(&t)[16]) {                  \
        using namespace bvh_lanes;                                                                              \
        const lanes origin[3] = {splat(r.origin.x), splat(r.origin.y), splat(r.origin.z)};                      \
        const lanes direction[3] = {splat(r.direction.x), splat(r.direction.y), splat(r.direction.z)};          \
        lanes lane_t = {};                                                                                      \
        const unsigned mask = bvh_lanes::group_hits(repeated_packet(p), origin, direction, splat(limit), lane_t); \
        for (int k = 0; k < 16; ++k) t[k] = lane_t[k];                                                          \
        return mask;                                                                                            \
    }
namespace baseline_leaf {
constexpr packet_isa isa = packet_isa::baseline;
#include "bvh/packet_lanes.h"
#include "bvh/packet_leaf.h"
GROUP_HITS_OF_ONE_RAY
}  // namespace baseline_leaf
#pragma GCC push_options
#pragma GCC target("avx512f,avx512dq,avx512bw,avx512vl")
namespace avx512_leaf {
constexpr packet_isa isa = packet_isa::avx512;
#include "bvh/packet_lanes.h"
#include "bvh/packet_leaf.h"
GROUP_HITS_OF_ONE_RAY
}  // namespace avx512_leaf
#pragma GCC pop_options

namespace {

using described::vec;
using namespace triangle_families;
constexpr float inf = std::numeric_limits<float>::infinity();

vector3 v3(const vec& v) { return {v.x, v.y, v.z}; }

// What a run of checks found: how often each was made, and the first
// failure of each.
struct tally {
    long compared = 0, compared_hits = 0, packet_lanes = 0;
    long bounded = 0, sliver_hits = 0, deep = 0, behind = 0;
    double used = 0.0;  // the largest share of its bound an accepted point used
    long failures = 0;
    std::string first;

    void fail(const char* what, const vec c[3], const vec& o, const vec& d, const std::string& more) {
        if (failures++ > 0) return;
        char text[600];
        std::snprintf(text, sizeof text,
                      "%s\n  corners (%a %a %a) (%a %a %a) (%a %a %a)\n  ray (%a %a %a) -> (%a %a %a)\n  %s", what,
                      c[0].x, c[0].y, c[0].z, c[1].x, c[1].y, c[1].z, c[2].x, c[2].y, c[2].z, o.x, o.y, o.z, d.x, d.y,
                      d.z, more.c_str());
        first = text;
    }
};

std::string hits_text(int code, float distance, int expected_code, float expected_distance) {
    char text[200];
    std::snprintf(text, sizeof text, "got %d %a, expected %d %a", code, distance, expected_code, expected_distance);
    return text;
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Which test the documented rule gives a triangle, from the exact
// condition number (measured from float dot products, it is within 7% of
// exact at the line: between 1e5/1.1 and 1e5·1.1 either is right), the
// range of the single-precision test and a zero face normal.
enum class expect_kind { degenerate, regular, sliver, either };

expect_kind documented_kind(const vec c[3], const vec& face, const described::triangle& t, const exact::shape& s) {
    if (face.x == 0.0f && face.y == 0.0f && face.z == 0.0f) return expect_kind::degenerate;
    bool in_range = std::isfinite(face.x) && std::isfinite(face.y) && std::isfinite(face.z);
    for (int i = 0; i < 3; ++i) in_range = in_range && exact::largest_of(c[i]) <= 0x1p100;
    in_range = in_range && t.dot11 >= 0x1p-100f && t.dot22 >= 0x1p-100f && std::isfinite(t.dot11) &&
               std::isfinite(t.dot22) && std::isfinite(t.dot12);
    if (!in_range || s.condition >= 1.1e5) return expect_kind::sliver;
    return s.condition <= 1e5 / 1.1 ? expect_kind::regular : expect_kind::either;
}

// The bound on how far an accepted point of this triangle may lie, by the
// test the documented rule gives it (the larger where either may run).
double bound_for(expect_kind kind, const exact::shape& s, const vec& o, double x_largest) {
    if (kind == expect_kind::sliver) return exact::sliver_bound(s, o, x_largest);
    return exact::regular_bound(s, o);
}

// Four triangles side by side as the hierarchy's leaves hold them.
triangle_packet packet_of(const triangle* const lanes[4]) {
    triangle_packet p{};
    for (int k = 0; k < 4; ++k) {
        const triangle& t = *lanes[k];
        const float* fields[] = {&t.normal.x, &t.vertex[0].x, &t.edge1.x, &t.edge2.x};
        for (int a = 0; a < 3; ++a) {
            p.normal[a][k] = fields[0][a];
            p.vertex[a][k] = fields[1][a];
            p.edge1[a][k] = fields[2][a];
            p.edge2[a][k] = fields[3][a];
        }
        p.offset[k] = t.offset;
        p.index[k] = k;
    }
    return p;
}

// One family: every triangle checked against the oracle on rays of every
// kind.
tally run_family(const family& f) {
    maker m{std::mt19937_64(f.seed)};
    tally out;
    // The last four regular triangles, with their oracles, for packets.
    std::shared_ptr<triangle> recent[4];
    std::optional<described::triangle> recent_oracle[4];
    int regular_seen = 0;
    const int count = slow_build ? f.count / 4 : f.count;
    for (int made_count = 0; made_count < count; ++made_count) {
        vec c[3];
        m.triangle_of(f, c);
        const vec face = described::face_normal(c);
        const described::triangle oracle(c, face);
        const exact::shape shape = exact::measure(c);
        const vector3 corners[3] = {v3(c[0]), v3(c[1]), v3(c[2])};
        const auto made = std::make_shared<triangle>(::face{{corners[0], corners[1], corners[2]}, v3(face)});
        triangle& tested = *made;

        // The rule's choice of test, and the set-up the description gives.
        const expect_kind kind = documented_kind(c, face, oracle, shape);
        const bool kind_ok = kind == expect_kind::either
                                 ? tested.kind != triangle_kind::degenerate
                                 : static_cast<int>(tested.kind) == static_cast<int>(kind);
        if (!kind_ok) out.fail("the wrong test for its shape", c, {}, {}, "condition " + std::to_string(shape.condition));
        const bool bitwise = tested.kind == triangle_kind::regular && oracle.defined;
        if (bitwise && !(tested.normal == v3(oracle.normal) && tested.offset == oracle.offset &&
                         tested.edge1 == v3(oracle.edge1) && tested.edge2 == v3(oracle.edge2) &&
                         tested.dot11 == oracle.dot11 && tested.dot22 == oracle.dot22 && tested.dot12 == oracle.dot12))
            out.fail("set-up differs from the description", c, {}, {}, "");

        if (bitwise) {
            const int slot = regular_seen++ % 4;
            recent[slot] = made;
            recent_oracle[slot] = oracle;
        }

        // Rays at this triangle.
        const d3 p0 = wide(c[0]), p1 = wide(c[1]), p2 = wide(c[2]);
        const d3 normal_exact = cross(p1 - p0, p2 - p0);
        const bool flat = dot(normal_exact, normal_exact) == 0.0 || !std::isfinite(dot(normal_exact, normal_exact));
        const d3 n = flat ? d3{0, 0, 1} : unit(normal_exact);
        const d3 along = unit(dot(p1 - p0, p1 - p0) > 0 ? p1 - p0 : d3{1, 0, 0});
        const double size = std::sqrt(dot(p1 - p0, p1 - p0)) + std::sqrt(dot(p2 - p0, p2 - p0)) + 1e-300;
        // How far the test's normal can lean (docs/triangle-bounds.md), twice over.
        const double lean = kind == expect_kind::sliver
                                ? 8.0 * exact::u_d * (1.0 / std::sqrt(std::max(shape.sine_squared, 0x1p-60)) + 1.0)
                                : 8.0 * exact::u * (std::sqrt(shape.condition) + 1.0);
        for (int k = 0; k < 12; ++k) {
            const int ray_kind = k % 6;
            d3 target;
            const d3 corner[3] = {p0, p1, p2};
            const int i = m.integer(0, 2);
            const d3 a = corner[i], b = corner[(i + 1) % 3];
            switch (ray_kind) {
            case 0:
            case 1: {  // the interior (and, from behind, case 1)
                double x = m.uniform(0, 1), y = m.uniform(0, 1);
                if (x + y > 1) x = 1 - x, y = 1 - y;
                target = p0 + x * (p1 - p0) + y * (p2 - p0);
                break;
            }
            case 2: {  // across an edge, in or out by 2^-j of the size
                const d3 in_plane = unit(cross(n, b - a));
                const double off = (m.coin() ? 1 : -1) * std::ldexp(size, -m.integer(4, 60));
                target = a + m.uniform(0, 1) * (b - a) + off * in_plane;
                break;
            }
            case 3:  // a float point of an edge, or a corner
                target = wide(m.coin() ? narrow(0.5 * (a + b)) : c[i]);
                break;
            case 4:  // near a corner
                target = a + std::ldexp(size, -m.integer(8, 60)) * m.cube();
                break;
            default:  // anywhere near
                target = p0 + size * m.cube();
                break;
            }
            // From the front, from steep to grazing; case 1 from behind.
            const double tilt = m.coin() ? m.uniform(0.05, 1) : std::ldexp(1.0, -m.integer(1, 22));
            const d3 side = unit(cross(n, m.coin() ? along : cross(n, along)));
            const double toward = ray_kind == 1 ? 1.0 : -1.0;
            const d3 dir = unit(toward * tilt * n + std::sqrt(1 - tilt * tilt) * (m.coin() ? 1.0 : -1.0) * side);
            const double away = std::min(size * std::ldexp(1.0, m.integer(-2, m.coin() ? 4 : 30)), 0x1p120);
            const vec o = narrow(target - away * dir), d = narrow(dir);
            const ray r{v3(o), v3(d)};

            // The distance passed in: none, far, or the hit's own (a tie).
            float distance = m.coin() ? inf : std::ldexp(1.0f, 127);
            float expected = distance;
            int expected_code = bitwise ? oracle.intersect(o, d, expected) : -1;
            if (bitwise && expected_code == 1 && k % 4 == 3) {
                distance = m.coin() ? expected : std::nextafter(expected, inf);
                expected = distance;
                expected_code = oracle.intersect(o, d, expected);
            }
            const float given = distance;
            const int code = tested.intersect(r, distance);

            if (bitwise) {
                ++out.compared;
                out.compared_hits += expected_code;
                if (code != expected_code || !same_bits(distance, expected))
                    out.fail("the single-precision test differs from the description", c, o, d,
                             hits_text(code, distance, expected_code, expected));
                // The same triangle in every lane of a packet of the last
                // four regular ones: each lane answers as the description.
                if (regular_seen >= 4 && k % 2 == 0) {
                    const triangle* lanes[4] = {recent[0].get(), recent[1].get(), recent[2].get(), recent[3].get()};
                    const triangle_packet pk = packet_of(lanes);
                    __m128 t = _mm_setzero_ps();
                    const int mask = packet_hits(pk, ray_lanes(r), _mm_set1_ps(given), &t);
                    alignas(16) float ts[4];
                    _mm_store_ps(ts, t);
                    // And the packet in each group of four lanes, as the
                    // packet walks test a leaf against four rays.
                    float group_t[2][16];
                    unsigned group[2] = {baseline_leaf::group_hits(pk, r, given, group_t[0]), 0};
                    const int sets = packet_isa_supported(packet_isa::avx512) ? 2 : 1;
                    if (sets == 2) group[1] = avx512_leaf::group_hits(pk, r, given, group_t[1]);
                    for (int lane = 0; lane < 16; ++lane) {
                        float e = given;
                        const int want = recent_oracle[lane % 4]->intersect(o, d, e);
                        ++out.packet_lanes;
                        const int got = lane < 4 ? (mask >> lane) & 1 : 0;
                        if (lane < 4 && (got != want || (want && !same_bits(ts[lane], e))))
                            out.fail("a packet lane differs from the description", c, o, d, hits_text(got, ts[lane], want, e));
                        for (int set = 0; set < sets; ++set) {
                            const int in_group = (group[set] >> lane) & 1;
                            if (in_group != want || (want && !same_bits(group_t[set][lane], e)))
                                out.fail("a lane of four rays' test differs from the description", c, o, d,
                                         hits_text(in_group, group_t[set][lane], want, e));
                        }
                    }
                }
            }

            // Any accepted point lies on the triangle within the bound.
            if (code != 0) {
                ++out.bounded;
                out.sliver_hits += tested.kind == triangle_kind::sliver;
                const exact::point x = exact::on_ray(o, d, distance);
                const double x_largest = std::max({std::fabs(x.x.get_d()), std::fabs(x.y.get_d()), std::fabs(x.z.get_d())});
                const double bound = bound_for(kind, shape, o, x_largest);
                const exact::point cc[3] = {exact::of(c[0]), exact::of(c[1]), exact::of(c[2])};
                const exact::rational squared = exact::squared_to_triangle(x, cc);
                out.used = std::max(out.used, std::sqrt(squared.get_d()) / bound);
                if (squared > exact::rational(bound) * exact::rational(bound))
                    out.fail("an accepted point beyond the bound", c, o, d,
                             "distance " + std::to_string(std::sqrt(squared.get_d()) / bound) + " bounds");
            }

            // A ray through the interior, steeper than the normal can lean,
            // meeting the plane deeper than B·(1 + 1/cos) from every edge
            // (the tested point lies within B of the plane, so along the ray
            // within B/cos of where the ray meets it): hit from the front,
            // never from behind.
            const double cosine = std::fabs(dot(wide(d), n));
            if (!flat && kind != expect_kind::degenerate && cosine > lean && shape.sine_squared > 0x1p-59 &&
                given >= 0x1p127f) {
                const exact::point cc[3] = {exact::of(c[0]), exact::of(c[1]), exact::of(c[2])};
                exact::point x;
                if (exact::meets_plane(o, d, cc, x)) {
                    const double x_largest =
                        std::max({std::fabs(x.x.get_d()), std::fabs(x.y.get_d()), std::fabs(x.z.get_d())});
                    const double depth = bound_for(kind, shape, o, x_largest) * (1.0 + 1.0 / cosine);
                    const bool ahead = exact::dot(x - exact::of(o), exact::of(d)) > 0;
                    if (ahead && exact::deep_inside(x, cc, depth)) {
                        if (ray_kind == 1) {
                            ++out.behind;
                            if (code != 0) out.fail("hit from behind", c, o, d, "");
                        } else {
                            ++out.deep;
                            if (code == 0) out.fail("a deep interior point missed from the front", c, o, d, "");
                        }
                    }
                }
            }
            // Collinear corners, and slivers narrower than double resolves,
            // are never hit.
            if ((kind == expect_kind::degenerate || shape.sine_squared < 0x1p-61) && code != 0)
                out.fail("a degenerate triangle hit", c, o, d, "");
        }
    }
    return out;
}

}  // namespace

TEST(triangle_oracle, every_family_answers_as_described_and_within_its_bounds) {
    long compared_hits = 0, sliver_hits = 0, deep = 0, behind = 0, lanes = 0;
    for (const family& f : families) {
        const tally t = run_family(f);
        EXPECT_EQ(t.failures, 0) << f.name << ": " << t.first;
        compared_hits += t.compared_hits;
        sliver_hits += t.sliver_hits;
        deep += t.deep;
        behind += t.behind;
        lanes += t.packet_lanes;
        std::printf("%-40s compared %6ld (hits %5ld) lanes %6ld bounded %6ld (slivers %5ld, bound used %4.1f%%) "
                    "deep %5ld behind %5ld\n",
                    f.name, t.compared, t.compared_hits, t.packet_lanes, t.bounded, t.sliver_hits, 100.0 * t.used, t.deep,
                    t.behind);
    }
    // The checks were made, not skipped.
    const long share = slow_build ? 4 : 1;
    EXPECT_GT(compared_hits, 2000 / share);
    EXPECT_GT(sliver_hits, 1000 / share);
    EXPECT_GT(deep, 1500 / share);
    EXPECT_GT(behind, 1500 / share);
    EXPECT_GT(lanes, 20000 / share);
}
