// The packet walks (intersect_bvh_packet, occluded_bvh_packet) answer every
// ray of a packet exactly as the linear scan answers it alone: the same
// code, distance bits, triangle and normal, on trees of both builders and
// with every instruction set the processor can run, for packets that travel
// together and packets that do not, with lanes left out, lanes that can hit
// nothing and distances that leave nothing to find.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "bvh/bvh.h"
#include "bvh/packet_isa.h"
#include "mesh/mesh.h"
#include "tests/support/bunny_patch.h"
#include "tests/support/slow_build.h"
#include "tests/support/triangle_soup.h"

namespace {

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float not_a_number = std::numeric_limits<float>::quiet_NaN();

// Sanitizer and debug builds fire a tenth of the packets.
constexpr int packet_share = slow_build ? 10 : 1;

// The meshes: a piece of the bunny; the same split in four with one
// triangle 10,000 km away; triangles of every shape from fat to collinear,
// sizes from 2^-20 to 2^20; fans with exact copies of their triangles.
triangle_soup patch_mesh() { return bunny_patch(make_face(bunny(), 30000).vertex[0], 40.0f); }

triangle_soup far_mesh() {
    triangle_soup out = subdivided(bunny_patch(make_face(bunny(), 12000).vertex[0], 15.0f));
    out.add({5e9f, 0.0f, 0.0f}, {5e9f, 5000.0f, 0.0f}, {5e9f, 0.0f, 5000.0f});
    return out;
}

triangle_soup shapes_mesh() {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    triangle_soup s;
    for (int n = 0; n < 600; ++n) {
        const float scale = std::ldexp(1.0f, std::uniform_int_distribution<int>(-20, 20)(rng));
        const vector3 base{40.0f * unit(rng), 40.0f * unit(rng), 40.0f * unit(rng)};
        const vector3 p = base + scale * vector3{unit(rng), unit(rng), unit(rng)};
        const vector3 q = base + scale * vector3{unit(rng), unit(rng), unit(rng)};
        vector3 r = base + scale * vector3{unit(rng), unit(rng), unit(rng)};
        if (n % 3 == 0) {  // a sliver, or collinear corners
            const int squeeze = std::uniform_int_distribution<int>(3, 40)(rng);
            r = p + 0.5f * (q - p) + (squeeze == 40 ? 0.0f : std::ldexp(1.0f, -squeeze)) * (r - p);
        }
        s.add(p, q, r);
    }
    return s;
}

triangle_soup copies_mesh() {
    std::mt19937 rng(4);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    triangle_soup s;
    for (int fan = 0; fan < 30; ++fan) {
        const vector3 hub{60.0f * unit(rng), 60.0f * unit(rng), 60.0f * unit(rng)};
        const vector3 up = normalize(vector3{unit(rng), unit(rng), unit(rng)});
        const vector3 side = normalize(cross(up, vector3{0.3f, 0.9f, -0.2f}));
        const vector3 other = cross(up, side);
        for (int k = 0; k < 6; ++k) {
            const float a0 = 1.0471976f * k, a1 = 1.0471976f * (k + 1);
            s.add(hub, hub + 8.0f * (std::cos(a0) * side + std::sin(a0) * other), hub + 8.0f * (std::cos(a1) * side + std::sin(a1) * other));
        }
    }
    for (int k = s.size() - 1; k >= 0; k -= 2) {  // exact copies, later in the list
        const vector3* v = &s.vertices[static_cast<std::size_t>(s.faces[k].vertex[0])];
        s.add(v[0], v[1], v[2]);
    }
    return s;
}

// Packets of rays at a mesh, each kind in turn.
struct packet_maker {
    const linear_reference& scan;
    std::mt19937 rng;
    std::uniform_real_distribution<float> unit{0.0f, 1.0f};

    float signed_unit() { return 2.0f * unit(rng) - 1.0f; }
    const triangle& any_triangle() {
        return *scan.triangles[std::uniform_int_distribution<std::size_t>(0, scan.triangles.size() - 1)(rng)];
    }
    vector3 interior(const triangle& t) {
        float u = unit(rng), v = unit(rng);
        if (u + v > 1.0f) u = 1.0f - u, v = 1.0f - v;
        return t.vertex[0] + u * t.edge1 + v * t.edge2;
    }
    vector3 around(const vector3& p, float reach) {
        return {p.x + reach * signed_unit(), p.y + reach * signed_unit(), p.z + reach * signed_unit()};
    }

    // Kind 0: one origin, sixteen points of the surface. Kind 1: one
    // origin, a 4 x 4 grid of directions round one point, as a tile of
    // pixels. Kind 2: sixteen rays of their own, some along an axis, some
    // grazing a triangle. Kind 3: kind 2 with lanes that can hit nothing.
    // Kind 4: kind 0 from a million units away, where the rounding is the
    // ray's more than the triangles'. Kind 5: one origin, points on one
    // triangle's edges or 2^-25 to 2^-18 of an edge to either side, where
    // only the exact barycentric solve can tell inside from out.
    void make(int kind, ray_packet& rays) {
        const triangle& target = any_triangle();
        const vector3 eye = around(interior(target), kind == 4 ? 1e6f : 200.0f);
        if (kind == 4) kind = 0;
        for (int k = 0; k < packet_size; ++k) {
            ray r;
            if (kind == 5) {
                const float s = unit(rng), off = k % 4 == 0 ? 0.0f : std::ldexp(k & 1 ? 1.0f : -1.0f, -18 - k % 8);
                const vector3 along[3] = {s * target.edge1 + off * target.edge2, off * target.edge1 + s * target.edge2,
                                          (s - off) * target.edge1 + (1.0f - s) * target.edge2};
                r = {eye, normalize(target.vertex[0] + along[k % 3] - eye)};
            } else if (kind == 0) {
                r.origin = eye;
                r.direction = normalize(interior(any_triangle()) - eye);
            } else if (kind == 1) {
                const vector3 p = interior(target) + vector3{0.3f * static_cast<float>(k % 4), 0.3f * static_cast<float>(k / 4), 0.0f};
                r = {eye, normalize(p - eye)};
            } else {
                const triangle& t = any_triangle();
                const vector3 p = interior(t);
                if (k % 5 == 1) {  // along an axis: two components zero
                    vector3 d{0.0f, 0.0f, 0.0f};
                    (k % 3 == 0 ? d.x : k % 3 == 1 ? d.y : d.z) = unit(rng) < 0.5f ? 1.0f : -1.0f;
                    r = {p - 300.0f * d, d};
                } else if (k % 5 == 2) {  // grazing the triangle
                    const vector3 d = normalize(normalize(t.edge1) - std::ldexp(1.0f, -12) * t.normal);
                    r = {p - 30.0f * d, d};
                } else {
                    const vector3 o = around(p, 500.0f);
                    r = {o, normalize(p - o)};
                }
                if (kind == 3 && k % 4 == 3) r.direction = k % 8 == 3 ? vector3{0.0f, 0.0f, 0.0f} : vector3{not_a_number, 0.0f, 1.0f};
            }
            rays.set(k, r);
        }
    }
};

struct tally {
    long rays = 0, hits = 0, mismatches = 0;
    std::string first;

    void mismatch(const std::string& what) {
        if (mismatches++ == 0) first = what;
    }
};

std::string describe(const ray& r, float distance) {
    char text[200];
    std::snprintf(text, sizeof text, "ray (%a %a %a) -> (%a %a %a), distance %a", r.origin.x, r.origin.y, r.origin.z,
                  r.direction.x, r.direction.y, r.direction.z, distance);
    return text;
}

// One packet through both walks against the scan, ray by ray. Lanes not in
// `active` must come back as they went in.
void compare_packet(const bvh& tree, const linear_reference& scan, const ray_packet& rays, unsigned active,
                    const float* incoming, tally& t) {
    float distances[packet_size];
    bvh_hit hits[packet_size];
    for (int k = 0; k < packet_size; ++k) {
        distances[k] = incoming[k];
        hits[k].index = -7;
    }
    const unsigned hit = intersect_bvh_packet(tree, rays, active, distances, hits);
    const unsigned occluded = occluded_bvh_packet(tree, rays, active, incoming);
    for (int k = 0; k < packet_size; ++k) {
        const ray r = rays.get(k);
        if (!((active >> k) & 1)) {
            if (std::memcmp(&distances[k], &incoming[k], sizeof(float)) != 0 || hits[k].index != -7 || ((hit | occluded) >> k) & 1)
                t.mismatch("a lane left out was touched: " + describe(r, incoming[k]));
            continue;
        }
        ++t.rays;
        float expected = incoming[k];
        int index = -1;
        const bool scan_hit = scan.intersect(r, expected, index) != hit_none;
        t.hits += scan_hit;
        const bool packet_hit = (hit >> k) & 1;
        const bool same = scan_hit == packet_hit && std::memcmp(&expected, &distances[k], sizeof(float)) == 0 &&
                          (!scan_hit || (hits[k].index == index &&
                                         hits[k].normal == scan.triangles[static_cast<std::size_t>(index)]->normal));
        if (!same) t.mismatch("intersect " + describe(r, incoming[k]));
        if (((occluded >> k) & 1) != scan_hit) t.mismatch("occluded " + describe(r, incoming[k]));
    }
}

struct mesh_case {
    const char* name;
    triangle_soup (*make)();
    int packets;
};

// Every instruction set the processor runs, in turn, the widest last so
// that it stays in use.
std::vector<packet_isa> runnable_isas() {
    std::vector<packet_isa> isas;
    for (packet_isa isa : {packet_isa::baseline, packet_isa::avx2, packet_isa::avx512})
        if (packet_isa_supported(isa)) isas.push_back(isa);
    return isas;
}

const char* isa_name(packet_isa isa) {
    return isa == packet_isa::avx512 ? "AVX-512" : isa == packet_isa::avx2 ? "AVX2" : "baseline";
}

}  // namespace

TEST(bvh_packets, every_ray_answers_as_the_linear_scan_does) {
    const mesh_case cases[] = {{"bunny patch", patch_mesh, 1200},
                               {"subdivided patch and a far triangle", far_mesh, 800},
                               {"every shape and scale", shapes_mesh, 800},
                               {"fans with copies", copies_mesh, 800}};
    for (const mesh_case& c : cases) {
        const triangle_soup soup = c.make();
        const mesh m = soup.view();
        const linear_reference scan(m);
        for (bvh_method method : {bvh_method::surface_area, bvh_method::morton}) {
            bvh tree;
            build_bvh(tree, m, 0, method);
            for (packet_isa isa : runnable_isas()) {
                SCOPED_TRACE(std::string(c.name) + (method == bvh_method::morton ? ", Morton, " : ", heuristic, ") + isa_name(isa));
                ASSERT_TRUE(use_packet_isa(isa));
                packet_maker maker{scan, std::mt19937(static_cast<unsigned>(c.packets))};
                tally t;
                for (int n = 0; n < c.packets / packet_share; ++n) {
                    ray_packet rays;
                    maker.make(n % 6, rays);
                    // All lanes, or a random few; distances of every sort.
                    const unsigned active = n % 3 == 0 ? 0xffffu : std::uniform_int_distribution<unsigned>(1, 0xffffu)(maker.rng);
                    float incoming[packet_size];
                    for (int k = 0; k < packet_size; ++k) {
                        switch ((n + k) % 8) {
                        case 0: incoming[k] = inf; break;
                        case 1: incoming[k] = (k & 1) ? 0.0f : -1.0f; break;
                        case 2: incoming[k] = not_a_number; break;
                        case 3: incoming[k] = 0.5f; break;
                        case 4:
                        case 5: {  // exactly the hit's distance, or the float above it
                            float d = 150000.0f;
                            int index = -1;
                            scan.intersect(rays.get(k), d, index);
                            incoming[k] = (n + k) % 8 == 4 ? d : std::nextafter(d, inf);
                            break;
                        }
                        default: incoming[k] = 150000.0f;
                        }
                    }
                    compare_packet(tree, scan, rays, active, incoming, t);
                }
                EXPECT_EQ(t.mismatches, 0) << t.first;
                EXPECT_GT(t.hits, t.rays / 8);
            }
        }
    }
}

// One triangle a tree, of every shape from fat to collinear and every size
// and position from 2^-60 to 2^60: the boxes are all that stands between a
// ray and the triangle test, so a margin short by any rounding shows.
// Packets from one point at the triangle's scale and from afar.
TEST(bvh_packets, lone_triangles_of_every_shape_and_scale) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (packet_isa isa : runnable_isas()) {
        SCOPED_TRACE(isa_name(isa));
        ASSERT_TRUE(use_packet_isa(isa));
        tally t;
        for (int n = 0; n < 3000 / packet_share; ++n) {
            const int scale_exponent = std::uniform_int_distribution<int>(-60, 60)(rng);
            const float scale = std::ldexp(1.0f, scale_exponent);
            const float offset = std::ldexp(1.0f, scale_exponent + std::uniform_int_distribution<int>(-4, 14)(rng));
            const vector3 base{offset * unit(rng), offset * unit(rng), offset * unit(rng)};
            const vector3 p = base + scale * vector3{unit(rng), unit(rng), unit(rng)};
            const vector3 q = base + scale * vector3{unit(rng), unit(rng), unit(rng)};
            vector3 r = base + scale * vector3{unit(rng), unit(rng), unit(rng)};
            if (n % 3 == 0) r = p + 0.5f * (q - p) + std::ldexp(1.0f, -std::uniform_int_distribution<int>(3, 40)(rng)) * (r - p);
            triangle_soup s;
            s.add(p, q, r);
            const mesh m = s.view();
            const linear_reference scan(m);
            packet_maker maker{scan, std::mt19937(static_cast<unsigned>(n))};
            // Near, at the triangle's own scale; farther; or some 900 units
            // away whatever the scale, where the ray's rounding is the most.
            const float reach = n % 3 == 2 ? 900.0f : (n & 1 ? 50.0f : 1e4f) * scale;
            for (bvh_method method : {bvh_method::surface_area, bvh_method::morton}) {
                bvh tree;
                build_bvh(tree, m, 1, method);
                // From one point; along an axis; grazing; from right by the
                // surface in any direction.
                const triangle& tri = *scan.triangles[0];
                ray_packet rays;
                const vector3 eye = maker.around(maker.interior(tri), reach);
                for (int k = 0; k < packet_size; ++k) {
                    const vector3 at = maker.interior(tri);
                    ray one{eye, normalize(at - eye)};
                    if (k % 4 == 1) {
                        vector3 d{0.0f, 0.0f, 0.0f};
                        (k % 3 == 0 ? d.x : k % 3 == 1 ? d.y : d.z) = k & 8 ? 1.0f : -1.0f;
                        one = {at - 4.0f * scale * d, d};
                    } else if (k % 4 == 2) {
                        const vector3 d = normalize(normalize(tri.edge1) - std::ldexp(1.0f, -(k + 4)) * tri.normal);
                        one = {at - 2.0f * scale * d, d};
                    } else if (k % 4 == 3) {
                        one.origin = maker.around(at, 0.01f * scale);
                        one.direction = normalize(vector3{maker.signed_unit(), maker.signed_unit(), maker.signed_unit()});
                    }
                    rays.set(k, one);
                }
                float incoming[packet_size];
                for (int k = 0; k < packet_size; ++k) incoming[k] = k & 1 ? inf : 150000.0f;
                compare_packet(tree, scan, rays, 0xffffu, incoming, t);
            }
        }
        EXPECT_EQ(t.mismatches, 0) << t.first;
        EXPECT_GT(t.hits, t.rays / 8);
    }
}

// An empty tree meets nothing and touches nothing.
TEST(bvh_packets, an_empty_tree_meets_nothing) {
    bvh empty;
    build_bvh(empty, mesh{}, 0, bvh_method::morton);
    ray_packet rays;
    for (int k = 0; k < packet_size; ++k) rays.set(k, {{0.0f, 0.0f, -10.0f}, {0.0f, 0.0f, 1.0f}});
    float distances[packet_size];
    for (float& d : distances) d = 150000.0f;
    bvh_hit hits[packet_size];
    EXPECT_EQ(intersect_bvh_packet(empty, rays, 0xffffu, distances, hits), 0u);
    EXPECT_EQ(occluded_bvh_packet(empty, rays, 0xffffu, distances), 0u);
    for (float d : distances) EXPECT_EQ(d, 150000.0f);
}
