// What a compact tree rests on: its leaves' triangles are classified as
// they are tested, by the packet fill (bvh/packet_fill.h), which must pick
// the test classify_triangle picks and give regular triangles
// prepare_triangle's fields; its boxes hold each triangle's reach box
// whichever its kind (reach_margin_either); and the method build_bvh picks
// for a mesh and a picture.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "bvh/bvh.h"
#include "bvh/packet_fill.h"
#include "bvh/reach.h"
#include "ray_triangle/setup.h"
#include "tests/support/triangle_soup.h"

namespace {

// Triangles on both sides of every line the classification draws.
triangle_soup edge_cases() {
    triangle_soup s;
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    // Slivers whose third corner lies 2^-e of their size off the line of
    // the other two, e from 4 to 30: the condition number crosses 1e5
    // (about e = 9) in every orientation.
    for (int e = 4; e <= 30; ++e) {
        for (int n = 0; n < 40; ++n) {
            const vector3 p{unit(rng), unit(rng), unit(rng)};
            const vector3 q = p + 3.0f * vector3{unit(rng), unit(rng), unit(rng)};
            const vector3 off{unit(rng), unit(rng), unit(rng)};
            const float t = 0.5f + 0.4f * unit(rng);
            s.add(p, q, p + t * (q - p) + std::ldexp(static_cast<float>(e & 1 ? 1.0 : 0.7), -e) * off);
        }
    }
    // Edges whose squared lengths lie round min_regular_dot.
    for (int e = -56; e <= -44; ++e) {
        const float small = std::ldexp(1.0f, e);
        s.add({1.0f, 1.0f, 1.0f}, {1.0f + small, 1.0f, 1.0f}, {1.0f, 1.0f + small, 1.0f});
        s.add({0.0f, 0.0f, 0.0f}, {small, 0.0f, 0.0f}, {0.0f, small, 0.0f});
    }
    // Corners round max_regular_coordinate, and far beyond, where the cross
    // product overflows.
    for (float big : {0x1p99f, 0x1p100f, 0x1.000002p100f, 0x1p101f, 1e36f}) {
        s.add({big, 0.0f, 0.0f}, {big, 1.0f, 0.0f}, {big, 0.0f, 1.0f});
        s.add({big, 0.0f, 0.0f}, {big, 1e30f, 0.0f}, {big, 0.0f, 1e30f});
        s.add({0.0f, 0.0f, 0.0f}, {big, 0.0f, 0.0f}, {0.0f, big, 0.0f});
    }
    // Collinear corners (the zero normal), and fat triangles.
    s.add({0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 1.0f}, {2.0f, 2.0f, 2.0f});
    s.add({0.0f, 0.0f, 0.0f}, {1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f});
    s.add({5.0f, -3.0f, 2.0f}, {7.0f, 1.0f, -4.0f}, {-2.0f, 6.0f, 3.0f});
    return s;
}

}  // namespace

TEST(compact_leaves, the_packet_fill_classifies_as_classify_triangle_does) {
    const triangle_soup soup = edge_cases();
    const mesh m = soup.view();
    long slivers = 0, regular = 0;
    for (int first = 0; first < soup.size(); first += 3) {
        // Three triangles a packet and one empty lane, in every lane in turn.
        std::int32_t faces[4] = {-1, -1, -1, -1};
        for (int k = 0; k < 3 && first + k < soup.size(); ++k) faces[(first / 3 + k) % 4] = first + k;
        triangle_packet p;
        const int sliver_lanes = fill_packet_of_any_kind(m, faces, p);
        for (int lane = 0; lane < 4; ++lane) {
            const bool marked = (sliver_lanes >> lane) & 1;
            if (faces[lane] < 0) {
                EXPECT_FALSE(marked);
                continue;
            }
            const face f = make_face(m, faces[lane]);
            const triangle_setup expected = prepare_triangle(f.vertex, f.normal);
            SCOPED_TRACE("triangle " + std::to_string(faces[lane]));
            EXPECT_EQ(marked, expected.kind == triangle_kind::sliver);
            slivers += expected.kind == triangle_kind::sliver;
            if (expected.kind != triangle_kind::regular) {
                // Nothing meets a lane that is not regular: its normal is zero.
                EXPECT_EQ(p.normal[0][lane], 0.0f);
                EXPECT_EQ(p.normal[1][lane], 0.0f);
                EXPECT_EQ(p.normal[2][lane], 0.0f);
                continue;
            }
            ++regular;
            EXPECT_EQ(p.normal[0][lane], expected.normal.x);
            EXPECT_EQ(p.normal[1][lane], expected.normal.y);
            EXPECT_EQ(p.normal[2][lane], expected.normal.z);
            EXPECT_EQ(p.offset[lane], expected.offset);
            EXPECT_EQ(p.edge2[1][lane], expected.edge2.y);
        }
    }
    EXPECT_GT(slivers, 300);
    EXPECT_GT(regular, 100);
}

// reach_margin_either around the corners' box holds reach_box for either
// kind, for triangles of every shape and scale: with the sum of the edges'
// component magnitudes as the perimeter, as the Morton build takes it.
TEST(compact_leaves, the_either_margin_holds_both_reach_boxes) {
    std::mt19937 rng(8);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    int outside = 0;
    for (int n = 0; n < 20000; ++n) {
        const float scale = std::ldexp(1.0f, std::uniform_int_distribution<int>(-40, 40)(rng));
        const float offset = std::ldexp(1.0f, std::uniform_int_distribution<int>(-40, 60)(rng));
        const vector3 base{offset * unit(rng), offset * unit(rng), offset * unit(rng)};
        vector3 c[3] = {base + scale * vector3{unit(rng), unit(rng), unit(rng)},
                        base + scale * vector3{unit(rng), unit(rng), unit(rng)},
                        base + scale * vector3{unit(rng), unit(rng), unit(rng)}};
        if (n % 2) c[2] = c[0] + 0.5f * (c[1] - c[0]) + std::ldexp(1.0f, -std::uniform_int_distribution<int>(5, 30)(rng)) * (c[2] - c[0]);
        float lo[3], hi[3];
        double perimeter = 0.0, largest = 0.0;
        for (int a = 0; a < 3; ++a) {
            const float x0 = (&c[0].x)[a], x1 = (&c[1].x)[a], x2 = (&c[2].x)[a];
            lo[a] = std::fmin(x0, std::fmin(x1, x2));
            hi[a] = std::fmax(x0, std::fmax(x1, x2));
            perimeter += std::fabs(static_cast<double>(x1) - x0) + std::fabs(static_cast<double>(x2) - x0) +
                         std::fabs(static_cast<double>(x2) - x1);
            largest = std::fmax(largest, std::fmax(std::fabs(lo[a]), std::fabs(hi[a])));
        }
        const box3 either = widened_box(lo, hi, reach_margin_either(perimeter, largest));
        for (triangle_kind kind : {triangle_kind::regular, triangle_kind::sliver}) {
            if (kind == triangle_kind::regular && classify_triangle(c, cross(c[1] - c[0], c[2] - c[0])) != kind) continue;
            const box3 own = reach_box(c, kind);
            for (int a = 0; a < 3; ++a) outside += own.lo[a] < either.lo[a] || own.hi[a] > either.hi[a];
        }
    }
    EXPECT_EQ(outside, 0);
}

// One 800 x 600 picture unless told otherwise; the heuristic below 50,000
// triangles, else Morton order while the rays are fewer than 6,500 times
// the square root of the triangle count. The line worked out by hand:
// 6,500 x 500 = 3,250,000 rays for 250,000 triangles.
TEST(compact_leaves, the_automatic_method_weighs_the_build_against_the_rays) {
    struct method_case {
        std::int64_t triangles, rays;
        bvh_method expected;
    };
    const std::int64_t picture = 800 * 600, viewer = 300 * picture;
    const method_case cases[] = {
        {69666, 0, bvh_method::morton},                       // the bunny, one default picture
        {69666, picture, bvh_method::morton},
        {69666, viewer, bvh_method::surface_area},            // a viewing session: many pictures
        {69666, 3 * picture, bvh_method::morton},             // 1.44 M rays, under 6,500 x 263.9 = 1.72 M
        {69666, 4 * picture, bvh_method::surface_area},       // 1.92 M rays: over
        {250000, 3249999, bvh_method::morton},                // just below the line
        {250000, 3250000, bvh_method::surface_area},          // on it
        {49999, 0, bvh_method::surface_area},                 // small meshes: always the heuristic
        {49999, 1, bvh_method::surface_area},
        {50000, 0, bvh_method::morton},                       //   from 50,000 on the line decides
        {16380, 0, bvh_method::surface_area},                 // the CAD cylinder
        {4458624, 1200 * 900 * 9, bvh_method::morton},        // 3x, 1200 x 900 at 3 x 3 samples: 9.72 M < 13.7 M
        {1114656, 1200 * 900 * 9, bvh_method::surface_area},  // 2x: 9.72 M > 6.86 M
        {17834496, viewer, bvh_method::surface_area},         // 4x in the viewer: 144 M > 27.5 M
        {0, 0, bvh_method::surface_area},
        {-1, 0, bvh_method::surface_area},
    };
    for (const method_case& c : cases)
        EXPECT_EQ(automatic_method(c.triangles, c.rays), c.expected) << c.triangles << " triangles, " << c.rays << " rays";
}
