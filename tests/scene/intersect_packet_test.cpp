// object::intersect_packet and occluded_packet: for every ray of a packet,
// what intersect answers for it alone, and what get_normal and
// surface_of_hit answer right after, whether an object answers the rays one
// by one (the default), together (the model, through its hierarchy) or in
// its own loop (the plane); the object then remembers the last ray's hit.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "scene/model.h"
#include "scene/plane.h"
#include "scene/sphere.h"
#include "tests/support/bunny.h"
#include "util/worker.h"

namespace {

// A surface whose every answer depends on what it was asked before: it
// meets a ray at a distance that grows with each call, and its normal and
// surface name the call that last hit. Asking it in another order than
// intersect's would show.
class counting_surface : public object {
public:
    int calls = 0;
    int last = -1;
    int get_type() const override { return 0; }
    int intersect(const ray& r, float& distance) override {
        const float at = 10.0f + static_cast<float>(calls++);
        if (r.direction.x < 0.0f || !(at < distance)) return hit_none;
        distance = at;
        last = calls;
        return r.direction.y < 0.0f ? hit_inside : hit_outside;
    }
    vector3 get_normal(const vector3& point) const override { return {static_cast<float>(last), point.x, 0.0f}; }
    surface_hit surface_of_hit(const vector3& point) const override { return {nullptr, last, point}; }
};

struct packet_answer {
    float distances[packet_size];
    int codes[packet_size];
    hit_record hits[packet_size];
};

// What intersect, get_normal and surface_of_hit answer for each active ray
// in order: the oracle for intersect_packet.
packet_answer ray_by_ray(object& o, const ray_packet& rays, unsigned active, const float* incoming) {
    packet_answer a;
    for (int k = 0; k < packet_size; ++k) {
        a.distances[k] = incoming[k];
        a.codes[k] = 99;
        if (!((active >> k) & 1)) continue;
        const ray r = rays.get(k);
        a.codes[k] = o.intersect(r, a.distances[k]);
        if (a.codes[k] == hit_none) continue;
        const vector3 point = r.origin + r.direction * a.distances[k];
        a.hits[k] = {o.get_normal(point), o.surface_of_hit(point)};
    }
    return a;
}

packet_answer together(object& o, const ray_packet& rays, unsigned active, const float* incoming) {
    packet_answer a;
    for (int k = 0; k < packet_size; ++k) {
        a.distances[k] = incoming[k];
        a.codes[k] = 99;
    }
    o.intersect_packet(rays, active, a.distances, a.codes, a.hits);
    return a;
}

// The same answers for every ray, bit for bit; the lanes left out untouched.
void expect_same(const packet_answer& expected, const packet_answer& got, unsigned active, const std::string& what) {
    for (int k = 0; k < packet_size; ++k) {
        SCOPED_TRACE(what + ", ray " + std::to_string(k));
        EXPECT_EQ(std::memcmp(&expected.distances[k], &got.distances[k], sizeof(float)), 0);
        EXPECT_EQ(expected.codes[k], got.codes[k]);
        if (!((active >> k) & 1) || expected.codes[k] == hit_none) continue;
        EXPECT_EQ(expected.hits[k].normal, got.hits[k].normal);
        EXPECT_EQ(expected.hits[k].surface.geometry, got.hits[k].surface.geometry);
        EXPECT_EQ(expected.hits[k].surface.triangle, got.hits[k].surface.triangle);
        EXPECT_EQ(expected.hits[k].surface.point, got.hits[k].surface.point);
    }
}

// Packets with some lanes left out and some distances too short, asked of
// an object whose answers do not depend on what it was asked before: ray by
// ray, then together; and whether they are occluded. `remembered` says
// what the object remembers of its latest hit, `forget` clears that.
void check_packets(object& o, const std::vector<ray_packet>& packets, int seed, const std::string& what,
                   const std::function<int()>& remembered, const std::function<void()>& forget) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    for (std::size_t n = 0; n < packets.size(); ++n) {
        const unsigned active = n % 2 ? 0xffffu : std::uniform_int_distribution<unsigned>(1, 0xffffu)(rng);
        float incoming[packet_size];
        for (int k = 0; k < packet_size; ++k) incoming[k] = (k + static_cast<int>(n)) % 5 == 0 ? 2900.0f : 150000.0f;
        // From the same memory both ways.
        if (forget) forget();
        const packet_answer expected = ray_by_ray(o, packets[n], active, incoming);
        const int after_rays = remembered ? remembered() : 0;
        if (forget) forget();
        expect_same(expected, together(o, packets[n], active, incoming), active, what);
        if (remembered) {
            EXPECT_EQ(remembered(), after_rays) << what;
        }
        unsigned met = 0;
        for (int k = 0; k < packet_size; ++k)
            if (((active >> k) & 1) && expected.codes[k] != hit_none) met |= 1u << k;
        EXPECT_EQ(o.occluded_packet(packets[n], active, incoming), met) << what;
    }
}

std::vector<ray_packet> bunny_packets(int count) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<ray_packet> packets(static_cast<std::size_t>(count));
    for (ray_packet& p : packets) {
        const vector3 eye{-3000.0f + 400.0f * unit(rng), 800.0f + 400.0f * unit(rng), 500.0f + 400.0f * unit(rng)};
        const vector3 at{-60.0f + 400.0f * unit(rng), 500.0f + 350.0f * unit(rng), 350.0f * unit(rng)};
        for (int k = 0; k < packet_size; ++k) p.set(k, {eye, normalize(at + vector3{8.0f * (k % 4), 8.0f * (k / 4), 0.0f} - eye)});
    }
    return packets;
}

}  // namespace

TEST(intersect_packet, the_default_asks_each_ray_in_turn) {
    counting_surface one, other;
    ray_packet rays;
    for (int k = 0; k < packet_size; ++k)
        rays.set(k, {{static_cast<float>(k), 0.0f, 0.0f}, {k % 3 == 0 ? -1.0f : 1.0f, k % 4 == 1 ? -1.0f : 1.0f, 0.0f}});
    float incoming[packet_size];
    for (int k = 0; k < packet_size; ++k) incoming[k] = k % 5 == 4 ? 12.0f : 1000.0f;
    for (unsigned active : {0xffffu, 0x5a5au, 0x0001u, 0x8000u}) {
        const packet_answer expected = ray_by_ray(one, rays, active, incoming);
        expect_same(expected, together(other, rays, active, incoming), active, "active " + std::to_string(active));
        EXPECT_EQ(other.calls, one.calls);
        EXPECT_EQ(other.last, one.last);  // it remembers the last ray's hit
    }
}

// The model answers through its hierarchy, the gate left out; the plane in
// a loop of its own. Both must answer as intersect does, the model on
// trees of both builders, and remember the last ray's hit.
TEST(intersect_packet, models_and_planes_answer_as_intersect_does) {
    const std::vector<ray_packet> packets = bunny_packets(300);
    for (bvh_method method : {bvh_method::surface_area, bvh_method::morton}) {
        model bunny(owned_mesh(new mesh(parse_bunny())), method);
        ASSERT_EQ(bunny.hierarchy.compact(), method == bvh_method::morton);
        long hits = 0;
        check_packets(bunny, packets, 1, method == bvh_method::morton ? "Morton model" : "model", [&] {
            hits += bunny.recorded_hit() >= 0;
            return bunny.recorded_hit();
        }, [&] { bunny.last_hit[util::current_worker].hit = bvh_hit{}; });
        EXPECT_GT(hits, 100);
    }
    plane floor;
    floor.normal = {0.0f, 2.0f, 0.0f};  // not of unit length: the hit's normal is
    floor.offset = 170.0f;
    check_packets(floor, packets, 2, "plane", {}, {});
}
