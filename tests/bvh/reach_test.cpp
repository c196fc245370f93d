// The boxes a triangle's hits can reach and the allowance a ray adds to
// every box (bvh/reach.h), against docs/triangle-bounds.md: the widths the
// code gives them must cover the derived bounds, and rays built to land
// where those widths are needed (skimming a far triangle's top edge, and
// far rays whose rounding was searched out to stray the most) must find
// their hits in the boxes, measured exactly, and through the hierarchy.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "bvh/bvh.h"
#include "bvh/reach.h"
#include "ray_triangle/intersect.h"
#include "tests/support/exact_geometry.h"
#include "tests/support/slow_build.h"
#include "tests/support/triangle_families.h"
#include "tests/support/triangle_soup.h"

namespace {

using namespace triangle_families;
constexpr double u = exact::u;

vector3 v3(const vec& v) { return {v.x, v.y, v.z}; }

triangle made_of(const vec c[3]) {
    return triangle(face{{v3(c[0]), v3(c[1]), v3(c[2])}, v3(described::face_normal(c))});
}

// How far outside `box` widened by `allowance` the exact point o + t·d
// lies, over u·‖o‖∞ (negative: inside).
double beyond(const box3& box, float allowance, const vec& o, const vec& d, float t) {
    const exact::point x = exact::on_ray(o, d, t);
    const exact::rational* xs[3] = {&x.x, &x.y, &x.z};
    double worst = -1e300;
    for (int a = 0; a < 3; ++a) {
        const exact::rational below = exact::rational(box.lo[a]) - exact::rational(allowance) - *xs[a];
        const exact::rational above = *xs[a] - exact::rational(box.hi[a]) - exact::rational(allowance);
        worst = std::max({worst, below.get_d(), above.get_d()});
    }
    return worst / (u * std::max(exact::largest_of(o), 1e-300));
}

// One ray at one triangle: the triangle's own test and a hierarchy over it
// must agree, and an accepted point must lie in the reach box widened by
// the ray's allowance. Also says how far beyond the reach box alone the
// accepted point lies (over u·‖o‖∞), and whether it lies beyond the box
// of the corners.
struct outcome {
    bool hit = false;
    bool agree = true;
    bool inside = true;
    double beyond_reach = -INFINITY;
    bool beyond_corners = false;
};

outcome fire(const triangle& t, const bvh& tree, const vec& o, const vec& d) {
    outcome out;
    const ray r{v3(o), v3(d)};
    float scanned = INFINITY, found = INFINITY;
    const int code = intersect_prepared(static_cast<const triangle_setup&>(t), r, scanned);
    bvh_hit hit;
    const int tree_code = intersect_bvh(tree, r, found, hit);
    out.agree = code == tree_code && std::memcmp(&scanned, &found, sizeof found) == 0;
    if (code == hit_none) return out;
    out.hit = true;
    const box3 box = reach_box(t);
    out.inside = beyond(box, ray_allowance(r.origin), o, d, scanned) <= 0.0;
    out.beyond_reach = beyond(box, 0.0f, o, d, scanned);
    box3 corners;
    for (int a = 0; a < 3; ++a) {
        corners.lo[a] = std::min({(&t.vertex[0].x)[a], (&t.vertex[1].x)[a], (&t.vertex[2].x)[a]});
        corners.hi[a] = std::max({(&t.vertex[0].x)[a], (&t.vertex[1].x)[a], (&t.vertex[2].x)[a]});
    }
    out.beyond_corners = beyond(corners, 0.0f, o, d, scanned) > 0.0;
    return out;
}

struct one_triangle_tree {
    triangle_soup soup;
    bvh tree;
    explicit one_triangle_tree(const vec c[3]) {
        soup.add(v3(c[0]), v3(c[1]), v3(c[2]));
        build_bvh(tree, soup.view(), 1);
    }
};

}  // namespace

// docs/triangle-bounds.md, "The constants": each width at least its first
// order value, and as wide as the table's constants make it (within 10%,
// for the κ and lengths the code measures in single precision). First
// order, a triangle's box: u·((19.4·√κ + 9)·L + (17.3 + 3)·V) for the
// single-precision test, u·(√3 + 3)·V + (2.9·√κ + 8)·u_d·perimeter for
// the double one; a ray: (15.6 + 4)·u·‖o‖∞. The table: u·((40·√κ + 20)·L
// + 48·V), u·(20·L + 48·V) + (8·2^30 + 8)·u_d·perimeter, 48·u·‖o‖∞.
TEST(reach_boxes, are_as_wide_as_derived_for_every_shape_and_scale) {
    long checked = 0;
    // A corner at the origin and one on each axis besides the families.
    const vec at_origin[][3] = {{{1, 2, 3}, {0, 0, 0}, {0.5f, 4, 1}}, {{0, 0, 0}, {0, 1e-3f, 0}, {1e-3f, 0, 0}}};
    for (const family& f : families) {
        maker m{std::mt19937_64(f.seed + 100)};
        for (int n = -2; n < f.count; ++n) {
            vec c[3];
            if (n < 0) std::copy(at_origin[n + 2], at_origin[n + 2] + 3, c);
            else m.triangle_of(f, c);
            const triangle t = made_of(c);
            if (t.kind == triangle_kind::degenerate) continue;
            const exact::shape s = exact::measure(c);
            const double sqrt_condition = std::sqrt(s.condition), lean = 1.0 / std::sqrt(std::max(s.sine_squared, 0x1p-60));
            const bool regular = t.kind == triangle_kind::regular;
            const double needed =
                regular ? u * ((19.4 * sqrt_condition + 9.0) * s.edge_sum + 20.3 * s.largest)
                        : u * (std::sqrt(3.0) + 3.0) * s.largest + (2.9 * lean + 8.0) * exact::u_d * s.perimeter;
            const double table = regular ? u * ((40.0 * sqrt_condition + 20.0) * s.edge_sum + 48.0 * s.largest)
                                         : u * (20.0 * s.edge_sum + 48.0 * s.largest) +
                                               (8.0 * 0x1p30 + 8.0) * exact::u_d * s.perimeter;
            const box3 box = reach_box(t);
            for (int a = 0; a < 3; ++a) {
                const float* coordinate[3] = {&c[0].x, &c[1].x, &c[2].x};
                const float lo = std::min({coordinate[0][a], coordinate[1][a], coordinate[2][a]});
                const float hi = std::max({coordinate[0][a], coordinate[1][a], coordinate[2][a]});
                for (const double width : {double(lo) - box.lo[a], double(box.hi[a]) - hi}) {
                    ++checked;
                    const double ulp = std::ldexp(1.0, std::ilogb(std::max(std::fabs(box.lo[a]), std::fabs(box.hi[a]))) - 23);
                    ASSERT_GE(width, needed) << f.name << " #" << n << " axis " << a;
                    ASSERT_GE(width, 0.9 * table) << f.name << " #" << n << " axis " << a;
                    ASSERT_LE(width, 1.1 * table + ulp) << f.name << " #" << n << " axis " << a;
                }
            }
        }
    }
    EXPECT_GT(checked, 20000);

    for (const vec o : {vec{0.0f, 0.0f, 0.0f}, vec{1.0f, -2.0f, 3.0f}, vec{-3e4f, 2e4f, 1e4f}, vec{0x1p-100f, 0.0f, -0x1p-90f},
                        vec{1e30f, -1e30f, 1e30f}, vec{-0x1.fffffep127f, 1.0f, 0.0f}, vec{0.5f, 0x1.000002p20f, -0x1.fffffep19f}}) {
        const double allowance = ray_allowance(v3(o)), largest = exact::largest_of(o);
        EXPECT_GE(allowance, 19.6 * u * largest) << o.x << " " << o.y << " " << o.z;
        EXPECT_GE(allowance, 48.0 * u * largest) << o.x << " " << o.y << " " << o.z;
        EXPECT_LE(allowance, 48.0 * u * largest * (1.0 + 0x1p-18)) << o.x << " " << o.y << " " << o.z;
    }
}

// A triangle far from the origin, its top edge level and its plane rising
// towards it, and rays from near the origin that skim that edge almost
// level: where the rounding of its test accepts a point a little above the
// edge, above the box of its corners, the ray never dips into that box.
// Only the triangle's margin (the ray's allowance is next to nothing here)
// lets the hierarchy find it. From far origins the same rays need the
// allowance instead.
struct skimming {
    const char* name;
    int away_lo, away_hi;      // the triangle 2^k from the origin
    int origin_lo, origin_hi;  // the ray's origin 2^k back from the edge (0: near the origin)
    unsigned seed;
};

const skimming skims[] = {
    {"far triangles, rays from near the origin", 6, 24, 0, 0, 1},
    {"triangles at the origin, far rays", 0, 0, 6, 24, 2},
};

TEST(reach_boxes, rays_skimming_a_far_edge_find_its_hits) {
    for (const skimming& row : skims) {
        maker m{std::mt19937_64(row.seed)};
        long hits = 0, needed = 0;
        for (int n = 0; n < (slow_build ? 60 : 300); ++n) {
            const double slope = std::ldexp(1.0, -m.integer(0, 6));
            const double top = m.uniform(-0.1, 0.1), right = m.uniform(-0.1, 0.1), back = m.uniform(0.3, 1.3);
            const double away = row.away_hi > 0 ? std::ldexp(1.0, m.integer(row.away_lo, row.away_hi)) : 0.0;
            const d3 shift{away, m.uniform(-1, 1), m.uniform(-1, 1)};
            vec c[3] = {narrow(shift + d3{right, -m.uniform(0.2, 1.2), top}),
                        narrow(shift + d3{right, m.uniform(0.2, 1.2), top}),
                        narrow(shift + d3{right - back, m.uniform(-1, 1), top - slope * back})};
            if (described::face_normal(c).z < 0.0f) std::swap(c[1], c[2]);
            const one_triangle_tree one(c);
            const triangle t = made_of(c);
            ASSERT_EQ(t.kind, triangle_kind::regular);
            const double reach = std::max(away, std::ldexp(1.0, m.integer(row.origin_lo, row.origin_hi)));
            for (int k = 0; k < 2000; ++k) {
                // Above the edge by up to a few roundings of the reach.
                const double above = u * reach * std::ldexp(m.uniform(0, 1), m.integer(-4, 0));
                const double along = m.uniform(0, 1);
                const vec o = narrow(d3{row.origin_hi > 0 ? c[0].x - reach : m.uniform(-1, 1),
                                        c[0].y + along * (c[1].y - c[0].y), c[0].z + above});
                const vec d = narrow(unit(d3{1.0, 1e-4 * m.uniform(-1, 1), -std::ldexp(1.0, -m.integer(20, 60))}));
                const outcome got = fire(t, one.tree, o, d);
                ASSERT_TRUE(got.agree) << row.name << ": the hierarchy and the triangle's test differ";
                ASSERT_TRUE(got.inside) << row.name << ": an accepted point beyond the reach box and allowance";
                hits += got.hit;
                needed += row.origin_hi > 0 ? got.beyond_reach > 0.0 : got.beyond_corners;
            }
        }
        // The rays land where the widths are needed: beyond the corners'
        // box, or from far origins beyond the reach box itself.
        EXPECT_GT(hits, slow_build ? 2000 : 10000) << row.name;
        EXPECT_GT(needed, hits / 20) << row.name;
    }
}

// Far rays at a triangle near the origin whose roundings add up: found by
// searching some hundred million rays from diagonal origins just above a
// power of two, aimed at the corner of a random triangle that is extreme
// on an axis, for the accepted points farthest beyond the reach box. Each
// lands beyond it by more than 4.5·u·‖o‖∞, which only the ray's allowance
// (48·u·‖o‖∞, docs/triangle-bounds.md) covers; a twelfth of it would not.
struct stray {
    vec corners[3];
    vec origin;
    vec direction;
};

const stray strays[] = {
    {{{-0x1.cd071ap-1, -0x1.eff324p-2, 0x1.ced5e4p-3}, {0x1.c5b7fp-2, -0x1.db3c0ep-2, 0x1.03cd86p-1}, {-0x1.ef030ep-1, -0x1.f0cd72p-2, 0x1.131c9ap-1}}, {0x1.03469ap+19, -0x1.02e1p+19, -0x1.02f80ap+19}, {-0x1.27df0ep-1, 0x1.276aeap-1, 0x1.278558p-1}},
    {{{-0x1.8d435p-1, -0x1.b47beep-3, -0x1.318782p-1}, {-0x1.4ea458p-1, -0x1.1a9abap-3, 0x1.74ee52p-1}, {-0x1.94e35ep-1, -0x1.e55dc4p-13, -0x1.cc4d14p-3}}, {-0x1.01d7p+18, -0x1.01c7a2p+18, -0x1.00eaa2p+18}, {0x1.27fa8cp-1, 0x1.27e922p-1, 0x1.26eb6p-1}},
    {{{-0x1.8f5356p-2, 0x1.f8e792p-1, -0x1.2c3f1cp-2}, {0x1.b6e9aap-1, 0x1.a2746ep-1, 0x1.a9a416p-5}, {0x1.7294ap-1, 0x1.a5677ep-1, -0x1.0e3b32p-1}}, {0x1.01c88ep+13, 0x1.018acap+13, 0x1.00f0d6p+13}, {-0x1.280204p-1, -0x1.27bb76p-1, -0x1.2711bp-1}},
    {{{0x1.1dfdbap-3, -0x1.98d3acp-1, -0x1.d8d1ap-2}, {0x1.a1f0c2p-1, -0x1.be5d66p-1, 0x1.9fdf46p-1}, {-0x1.d4184cp-4, -0x1.b6d226p-1, 0x1.a074f4p-2}}, {0x1.018038p+20, -0x1.00b59ap+20, -0x1.015218p+20}, {-0x1.27f9b6p-1, 0x1.2710cp-1, 0x1.27c4b6p-1}},
    {{{0x1.67e23cp-2, 0x1.7df62ap-1, -0x1.50fe1cp-2}, {0x1.25f8bep-2, 0x1.c4958ap-3, 0x1.eb39eap-1}, {0x1.d50736p-3, -0x1.e24b9ap-1, -0x1.41d63ep-1}}, {0x1.03471ep+21, -0x1.02dc3ep+21, -0x1.03353ep+21}, {-0x1.27c9e4p-1, 0x1.274ffp-1, 0x1.27b57cp-1}},
    {{{0x1.dffc46p-1, 0x1.9ebbdcp-2, 0x1.f3a6f2p-4}, {0x1.f60a7ep-1, -0x1.7b1934p-1, -0x1.d26b74p-2}, {0x1.eecd16p-1, -0x1.63fd14p-1, -0x1.921d0ep-1}}, {0x1.01a424p+18, 0x1.016754p+18, -0x1.00aafp+18}, {-0x1.2810e4p-1, -0x1.27cb82p-1, 0x1.26f2acp-1}},
};

TEST(reach_boxes, far_rays_whose_roundings_add_up_stay_within_the_allowance) {
    for (const stray& s : strays) {
        const one_triangle_tree one(s.corners);
        const triangle t = made_of(s.corners);
        const outcome got = fire(t, one.tree, s.origin, s.direction);
        ASSERT_TRUE(got.hit);
        EXPECT_TRUE(got.agree);
        EXPECT_TRUE(got.inside) << "an accepted point beyond the reach box and allowance";
        EXPECT_GT(got.beyond_reach, 4.5);
    }
}
