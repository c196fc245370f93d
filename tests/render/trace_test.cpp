#include "render/trace.h"

#include "scene/plane.h"
#include "scene/sphere.h"
#include "tests/support/expect_vector.h"
#include "tests/support/test_scene.h"

#include <gtest/gtest.h>

namespace {

struct outcome {
    object* struck = nullptr;
    int depth = 0;
    float weight = 1.0f;
    vector3 color;
};

outcome run(scene* s, const ray& r, float medium = 1.0f, int depth = 0, float weight = 1.0f) {
    outcome o;
    o.depth = depth;
    o.weight = weight;
    o.struck = trace(s, &o.depth, 5, &o.weight, &o.color, medium, r);
    return o;
}

// A primary ray along `d` that meets `surface` after `distance` exactly at
// P = (0, 0, 0).
ray aim_at_origin(stub_surface& surface, vector3 d, float distance = 10.0f) {
    const ray r{-(d * distance), d};
    surface.from = r.origin;
    surface.at = distance;
    return r;
}

void set_material(object& o, vector3 color, vector3 specular, float power) {
    o.color = color;
    o.specular = specular;
    o.specular_power = power;
}

const vector3 down{0.0f, -1.0f, 0.0f};
const vector3 slant{0.6f, -0.8f, 0.0f};

}  // namespace

// ---- nearest hit -----------------------------------------------------------

TEST(trace_nearest, nothing_struck_returns_null_and_adds_nothing) {
    light lamp{{1.0f, 1.0f, 1.0f}, {0.0f, 10.0f, 0.0f}};
    test_scene empty({}, {&lamp});
    const outcome a = run(empty.get(), {{0.0f, 5.0f, 0.0f}, down});
    EXPECT_EQ(a.struck, nullptr);
    EXPECT_VECTOR_FLOAT_EQ(a.color, 0.0f, 0.0f, 0.0f);

    stub_surface far_away;
    far_away.from_anywhere = true;
    far_away.at = 150000.0f;   // the far limit itself is out of reach
    test_scene beyond({&far_away}, {&lamp});
    const outcome b = run(beyond.get(), {{0.0f, 5.0f, 0.0f}, down});
    EXPECT_EQ(b.struck, nullptr);
    EXPECT_VECTOR_FLOAT_EQ(b.color, 0.0f, 0.0f, 0.0f);
}

TEST(trace_nearest, nearer_object_wins_and_ties_go_to_the_earlier) {
    stub_surface first, second, nearer;
    for (stub_surface* s : {&first, &second, &nearer}) s->from_anywhere = true;
    first.at = second.at = 20.0f;
    nearer.at = 15.0f;
    test_scene tie({&first, &second});
    EXPECT_EQ(run(tie.get(), {{}, down}).struck, &first);
    test_scene later_nearer({&first, &second, &nearer});
    EXPECT_EQ(run(later_nearer.get(), {{}, down}).struck, &nearer);
}

// ---- lights ----------------------------------------------------------------

TEST(trace_shading, diffuse_and_specular_terms_scale_with_weight) {
    stub_surface surface;
    light lamp{{1.0f, 0.5f, 0.25f}, {0.0f, 10.0f, 0.0f}};
    test_scene s({&surface}, {&lamp});
    const ray r = aim_at_origin(surface, down);

    set_material(surface, {0.2f, 0.4f, 0.6f}, {0.0f, 0.0f, 0.0f}, 70.0f);
    EXPECT_VECTOR_FLOAT_EQ(run(s.get(), r).color, 0.2f, 0.2f, 0.15f);

    set_material(surface, {0.2f, 0.4f, 0.6f}, {0.5f, 0.5f, 0.5f}, 70.0f);
    EXPECT_VECTOR_FLOAT_EQ(run(s.get(), r).color, 0.7f, 0.7f, 0.65f);
    EXPECT_VECTOR_FLOAT_EQ(run(s.get(), r, 1.0f, 0, 0.6f).color, 0.42f, 0.42f, 0.39f);
}

TEST(trace_shading, oblique_light_mirrors_about_the_normal) {
    stub_surface surface;
    set_material(surface, {1.0f, 1.0f, 1.0f}, {1.0f, 1.0f, 1.0f}, 2.0f);
    light lamp{{1.0f, 1.0f, 1.0f}, {3.0f, 4.0f, 0.0f}};
    test_scene s({&surface}, {&lamp});
    // Diffuse 0.8 plus specular 0.8^2.
    EXPECT_VECTOR_FLOAT_EQ(run(s.get(), aim_at_origin(surface, down)).color, 1.44f, 1.44f, 1.44f);
}

TEST(trace_shading, highlight_uses_the_incoming_direction_as_passed) {
    stub_surface surface;
    set_material(surface, {0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 1.0f}, 2.0f);
    light lamp{{1.0f, 1.0f, 1.0f}, {0.0f, 8.0f, 0.0f}};
    test_scene s({&surface}, {&lamp});
    const outcome o = run(s.get(), aim_at_origin(surface, {0.70710677f, -0.70710677f, 0.0f}));
    // pow(0.70710677, 2) rounded to float.
    EXPECT_EQ(o.color.x, 0.49999997f);
}

TEST(trace_shading, lights_behind_beside_or_at_the_point_add_nothing) {
    stub_surface surface;
    set_material(surface, {1.0f, 1.0f, 1.0f}, {1.0f, 1.0f, 1.0f}, 0.0f);
    const ray r = aim_at_origin(surface, slant);
    for (vector3 where : {vector3{0.0f, -10.0f, 0.0f}, vector3{10.0f, 0.0f, 0.0f},
                          vector3{0.0f, 0.0f, 0.0f}}) {
        light lamp{{1.0f, 1.0f, 1.0f}, where};
        test_scene s({&surface}, {&lamp});
        const outcome o = run(s.get(), r);
        EXPECT_VECTOR_FLOAT_EQ(o.color, 0.0f, 0.0f, 0.0f);
        EXPECT_EQ(o.struck, &surface);
    }
}

TEST(trace_shading, power_zero_gives_full_highlight_at_every_angle) {
    // The light's mirror direction points away from the viewer: v clamps to
    // 0, and pow(0, 0) is 1.
    stub_surface surface;
    light lamp{{1.0f, 1.0f, 1.0f}, {-10.0f, 1.0f, 0.0f}};
    test_scene s({&surface}, {&lamp});
    const ray r = aim_at_origin(surface, slant);
    set_material(surface, {0.0f, 0.0f, 0.0f}, {0.5f, 0.25f, 1.0f}, 0.0f);
    EXPECT_VECTOR_FLOAT_EQ(run(s.get(), r, 1.0f, 0, 0.5f).color, 0.25f, 0.125f, 0.5f);
    set_material(surface, {0.0f, 0.0f, 0.0f}, {0.5f, 0.25f, 1.0f}, 2.0f);
    EXPECT_VECTOR_FLOAT_EQ(run(s.get(), r).color, 0.0f, 0.0f, 0.0f);
}

// ---- shadows ----------------------------------------------------------------
// A floor through the origin lit by red light A straight above and green
// light B along (0.6, 0.8, 0); the camera ray meets the floor 100 units out.

namespace {

struct shadow_rig {
    plane floor;
    sphere above;      // on A's shadow ray, met 49 units from P
    sphere high;       // on A's shadow ray, met 149 units from P
    sphere towards_b;  // on B's shadow ray, met 55 units from P
    light a{{1.0f, 0.0f, 0.0f}, {0.0f, 120.0f, 0.0f}};
    light b{{0.0f, 1.0f, 0.0f}, {36.0f, 48.0f, 0.0f}};   // 60 units from P
    ray view{{-60.0f, 80.0f, 0.0f}, {0.6f, -0.8f, 0.0f}};

    shadow_rig() {
        floor.normal = {0.0f, 1.0f, 0.0f};
        set_material(floor, {1.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 0.0f}, 1.0f);
        above.centre = {0.0f, 50.0f, 0.0f};
        above.radius = 1.0f;
        high.centre = {0.0f, 150.0f, 0.0f};
        high.radius = 1.0f;
        towards_b.centre = {33.6f, 44.8f, 0.0f};
        towards_b.radius = 1.0f;
    }
};

}  // namespace

TEST(trace_shadow, unoccluded_lights_both_shine) {
    shadow_rig rig;
    test_scene s({&rig.floor}, {&rig.a, &rig.b});
    const outcome o = run(s.get(), rig.view);
    EXPECT_EQ(o.struck, &rig.floor);
    EXPECT_NEAR(o.color.x, 1.0f, 1e-6f);
    EXPECT_NEAR(o.color.y, 0.8f, 1e-6f);
}

TEST(trace_shadow, occluder_beyond_the_light_casts_no_shadow) {
    shadow_rig rig;
    rig.a.position = {0.0f, 40.0f, 0.0f};
    test_scene s({&rig.floor, &rig.above}, {&rig.a});
    EXPECT_NEAR(run(s.get(), rig.view).color.x, 1.0f, 1e-6f);
}

TEST(trace_shadow, occluder_before_the_light_shadows_however_far_the_viewer_is) {
    // The occluder is farther from P than the camera is (100), nearer than the light.
    shadow_rig rig;
    rig.a.position = {0.0f, 300.0f, 0.0f};
    test_scene s({&rig.floor, &rig.high}, {&rig.a});
    EXPECT_EQ(run(s.get(), rig.view).color.x, 0.0f);
}

TEST(trace_shadow, each_light_gets_a_fresh_bound) {
    // A's occluder is met at 49; B's occluder at 55 must still shadow B,
    // in either order of the lights.
    shadow_rig rig;
    test_scene ab({&rig.floor, &rig.above, &rig.towards_b}, {&rig.a, &rig.b});
    test_scene ba({&rig.floor, &rig.above, &rig.towards_b}, {&rig.b, &rig.a});
    for (test_scene* s : {&ab, &ba}) {
        const outcome o = run(s->get(), rig.view);
        EXPECT_EQ(o.color.x, 0.0f);
        EXPECT_EQ(o.color.y, 0.0f);
    }
    test_scene only_a_blocked({&rig.floor, &rig.above}, {&rig.a, &rig.b});
    const outcome o = run(only_a_blocked.get(), rig.view);
    EXPECT_EQ(o.color.x, 0.0f);
    EXPECT_NEAR(o.color.y, 0.8f, 1e-6f);
}

namespace {

// Answers get_normal from its latest hit, as a mesh does: its camera-side
// hit faces up, a hit on a vertical shadow ray faces down.
class last_hit_surface : public object {
public:
    vector3 from;
    vector3 last_normal;
    int get_type() const override { return 0; }
    int intersect(const ray& r, float& distance) override {
        if (r.origin == from && 10.0f < distance) {
            distance = 10.0f;
            last_normal = {0.0f, 1.0f, 0.0f};
            return hit_outside;
        }
        if (r.direction.x == 0.0f && r.direction.y > 0.0f && 1.0f < distance) {
            distance = 1.0f;
            last_normal = {0.0f, -1.0f, 0.0f};
            return hit_outside;
        }
        return hit_none;
    }
    vector3 get_normal(const vector3&) const override { return last_normal; }
};

}  // namespace

TEST(trace_normal, shadow_test_cannot_swap_in_the_occluders_normal) {
    last_hit_surface surface;
    set_material(surface, {1.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 0.0f}, 1.0f);
    const ray r{{0.0f, 10.0f, 0.0f}, down};
    surface.from = r.origin;
    light blocked{{1.0f, 0.0f, 0.0f}, {0.0f, 50.0f, 0.0f}};
    light open{{0.0f, 1.0f, 0.0f}, {30.0f, 40.0f, 0.0f}};
    test_scene s({&surface}, {&blocked, &open});
    const outcome o = run(s.get(), r);
    EXPECT_EQ(o.color.x, 0.0f);
    EXPECT_FLOAT_EQ(o.color.y, 0.8f);
}

// ---- depth, reflection --------------------------------------------------------

TEST(trace_depth, counter_at_the_limit_shades_one_past_it_returns_at_once) {
    stub_surface surface;
    set_material(surface, {1.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 0.0f}, 1.0f);
    light lamp{{1.0f, 1.0f, 1.0f}, {0.0f, 10.0f, 0.0f}};
    test_scene s({&surface}, {&lamp});
    const ray r = aim_at_origin(surface, down);

    const outcome at_limit = run(s.get(), r, 1.0f, 5);
    EXPECT_EQ(at_limit.struck, &surface);
    EXPECT_FLOAT_EQ(at_limit.color.x, 1.0f);

    surface.calls = 0;
    const outcome past = run(s.get(), r, 1.0f, 6);
    EXPECT_EQ(past.struck, nullptr);
    EXPECT_EQ(past.color.x, 0.0f);
    EXPECT_EQ(surface.calls, 0);
    EXPECT_EQ(past.depth, 6);
}

TEST(trace_reflection, mirror_ray_leaves_one_unit_off_with_shared_weight_and_depth) {
    stub_surface mirror;
    mirror.reflection = 0.5f;
    const ray r = aim_at_origin(mirror, slant);
    test_scene s({&mirror});
    const outcome o = run(s.get(), r);
    EXPECT_EQ(o.struck, &mirror);
    EXPECT_EQ(o.weight, 0.5f);
    EXPECT_EQ(o.depth, 1);
    ASSERT_EQ(mirror.calls, 2);
    EXPECT_EQ(mirror.last.origin, (vector3{0.6f, 0.8f, 0.0f}));
    EXPECT_EQ(mirror.last.direction, (vector3{0.6f, 0.8f, 0.0f}));
}

TEST(trace_reflection, reflection_takes_precedence_over_refraction) {
    stub_surface both;
    both.reflection = 0.5f;
    both.refraction_index = 1.5f;
    const ray r = aim_at_origin(both, slant);
    test_scene s({&both});
    const outcome o = run(s.get(), r);
    EXPECT_EQ(o.depth, 1);
    EXPECT_EQ(both.last.direction, (vector3{0.6f, 0.8f, 0.0f}));
}

TEST(trace_reflection, two_facing_mirrors_stop_after_six_surfaces) {
    plane floor, ceiling;
    floor.normal = {0.0f, 1.0f, 0.0f};
    ceiling.normal = {0.0f, -1.0f, 0.0f};
    ceiling.offset = -10.0f;
    floor.reflection = ceiling.reflection = 0.5f;
    stub_surface seen;
    test_scene s({&floor, &ceiling, make_recorder(seen)});
    const outcome o = run(s.get(), {{0.0f, 5.0f, 0.0f}, down});
    EXPECT_EQ(o.struck, &floor);
    EXPECT_EQ(seen.calls, 6);   // the seventh call returns before searching
    EXPECT_EQ(o.depth, 6);
    EXPECT_EQ(o.weight, 0.015625f);
}

// ---- refraction -----------------------------------------------------------------

TEST(trace_refraction, bends_into_the_denser_medium_without_touching_depth_or_weight) {
    stub_surface glass;
    glass.refraction_index = 1.5f;
    test_scene s({&glass});
    const outcome o = run(s.get(), aim_at_origin(glass, slant));
    EXPECT_EQ(o.struck, &glass);
    EXPECT_EQ(o.depth, 0);
    EXPECT_EQ(o.weight, 1.0f);
    ASSERT_EQ(glass.calls, 2);
    EXPECT_FLOAT_EQ(glass.last.direction.x, 0.4f);
    EXPECT_EQ(glass.last.direction.y, -0.9165151f);
    EXPECT_EQ(glass.last.direction.z, 0.0f);
    EXPECT_FLOAT_EQ(glass.last.origin.x, 0.00004f);
    EXPECT_FLOAT_EQ(glass.last.origin.y, -0.00009165151f);

    glass.calls = 0;
    run(s.get(), aim_at_origin(glass, down));
    EXPECT_EQ(glass.last.direction, down);
}

TEST(trace_refraction, next_surface_sees_the_struck_objects_index) {
    // Into glass of 1.5, then out through a second surface of the same glass,
    // met from inside: eta is 1 there, so the ray goes on unbent.
    stub_surface entry, exit;
    entry.refraction_index = exit.refraction_index = 1.5f;
    exit.code = hit_inside;
    exit.normal = {0.0f, -1.0f, 0.0f};
    exit.at = 1.0f;
    stub_surface seen;
    test_scene s({&entry, &exit, make_recorder(seen)});
    const ray r = aim_at_origin(entry, slant);
    run(s.get(), r);
    const ray inside = seen.last;
    exit.from = inside.origin;

    seen.calls = 0;
    run(s.get(), r);
    ASSERT_EQ(seen.calls, 3);
    EXPECT_FLOAT_EQ(seen.last.direction.x, inside.direction.x);
    EXPECT_FLOAT_EQ(seen.last.direction.y, inside.direction.y);
}

TEST(trace_refraction, leaving_from_inside_turns_the_normal) {
    stub_surface glass;
    glass.refraction_index = 1.5f;
    glass.code = hit_inside;
    test_scene s({&glass});
    const vector3 up_slant{0.6f, 0.8f, 0.0f};
    run(s.get(), aim_at_origin(glass, up_slant), 1.5f);
    ASSERT_EQ(glass.calls, 2);
    EXPECT_EQ(glass.last.direction, up_slant);
}

TEST(trace_refraction, ray_reflected_off_index_zero_refracts_along_the_reversed_normal) {
    // The mirror has refraction_index 0, so the reflected ray travels in a
    // medium of index 0 and eta at the glass is 0.
    stub_surface mirror, glass;
    mirror.reflection = 0.5f;
    glass.refraction_index = 1.5f;
    glass.from = {0.6f, 0.8f, 0.0f};
    glass.at = 1.0f;
    glass.normal = {0.0f, -1.0f, 0.0f};
    stub_surface seen;
    test_scene s({&mirror, &glass, make_recorder(seen)});
    const outcome o = run(s.get(), aim_at_origin(mirror, slant));
    ASSERT_EQ(seen.calls, 3);
    EXPECT_EQ(seen.last.direction, (vector3{0.0f, 1.0f, 0.0f}));
    EXPECT_EQ(o.depth, 1);
}

TEST(trace_refraction, total_internal_reflection_ends_the_chain) {
    stub_surface glass;
    glass.refraction_index = 1.0f;
    test_scene s({&glass});
    const outcome o = run(s.get(), aim_at_origin(glass, {0.8f, -0.6f, 0.0f}), 1.5f);
    EXPECT_EQ(o.struck, &glass);
    EXPECT_EQ(glass.calls, 1);
    EXPECT_EQ(o.depth, 0);

    // Grazing at eta 1 gives k exactly 0, which ends the chain as well; a
    // hair steeper refracts.
    glass.refraction_index = 1.5f;
    glass.calls = 0;
    run(s.get(), aim_at_origin(glass, {1.0f, 0.0f, 0.0f}), 1.5f);
    EXPECT_EQ(glass.calls, 1);
    glass.calls = 0;
    run(s.get(), aim_at_origin(glass, normalize({1.0f, -0.01f, 0.0f})), 1.5f);
    EXPECT_EQ(glass.calls, 2);
}

TEST(trace_refraction, endless_refraction_chain_is_cut_off) {
    // Meets a surface of index 1 one unit ahead, every time, forever: the
    // ray alone and in a packet of any size stop after 64 refractions, one
    // intersect call per ray traced.
    stub_surface slab;
    slab.from_anywhere = true;
    slab.at = 1.0f;
    slab.refraction_index = 1.0f;
    test_scene s({&slab});
    const outcome o = run(s.get(), {{0.0f, 0.0f, 0.0f}, down});
    EXPECT_EQ(o.struck, &slab);
    EXPECT_EQ(slab.calls, 1 + 64);
    EXPECT_EQ(o.depth, 0);
    for (const int count : {1, 5, packet_size}) {
        slab.calls = 0;
        ray rays[packet_size];
        vector3 colors[packet_size];
        for (int k = 0; k < count; ++k) rays[k] = {{static_cast<float>(k), 0.0f, 0.0f}, down};
        trace_packet(s.get(), 5, 1.0f, rays, count, colors);
        EXPECT_EQ(slab.calls, count * (1 + 64)) << count;
    }
}
