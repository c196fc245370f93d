// Shadows on two-sided surfaces: a shadow ray ignores what may be the
// struck surface's own other side, met within its reach
// (scene/surface_tolerance.h), and nothing else.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "mesh/obj/load_obj.h"
#include "render/camera.h"
#include "render/render.h"
#include "render/trace.h"
#include "scene/model.h"
#include "tests/support/test_scene.h"

namespace {

model* model_of(const std::string& obj) {
    owned_mesh m(new mesh);
    std::string error;
    EXPECT_TRUE(parse_obj(obj.data(), obj.size(), "generated.obj", m.get(), &error)) << error;
    model* built = new model(std::move(m));
    built->color = {0.0f, 1.0f, 1.0f};
    return built;
}

struct v3 {
    double x, y, z;
};
v3 operator+(v3 a, v3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
v3 operator-(v3 a, v3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
v3 operator*(double s, v3 a) { return {s * a.x, s * a.y, s * a.z}; }
double dot(v3 a, v3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
v3 cross(v3 a, v3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
v3 unit(v3 a) { return (1.0 / std::sqrt(dot(a, a))) * a; }

// A cap of a sphere where the bunny stands, bulging towards both the
// camera and the light, so that every point of it faces both: as OBJ text
// in metres, `cells` x `cells` squares of two triangles, each followed,
// when `two_sided`, by its reversed copy (the three reversed orders of its
// corners in turn).
std::string cap(int cells, bool two_sided) {
    const v3 stand{-84.0, 550.0, -8.0};
    const v3 towards = unit(unit(v3{-3004.9, 800.7, 500.8} - stand) + unit(v3{-2000.0, 1500.0, -3000.0} - stand));
    const double radius = 400.0, spread = 0.45;
    const v3 centre = stand - radius * towards;
    const v3 e1 = unit(cross(towards, {0.0, 1.0, 0.0}));
    const v3 e2 = cross(towards, e1);
    std::string obj;
    char line[128];
    for (int j = 0; j <= cells; ++j) {
        for (int i = 0; i <= cells; ++i) {
            const double a = spread * (2.0 * i / cells - 1.0), b = spread * (2.0 * j / cells - 1.0);
            const v3 p = (1.0 / 5000.0) * (centre + radius * unit(towards + a * e1 + b * e2));
            std::snprintf(line, sizeof line, "v %.9g %.9g %.9g\n", p.x, p.y, p.z);
            obj += line;
        }
    }
    int k = 0;
    auto add = [&](int a, int b, int c) {
        std::snprintf(line, sizeof line, "f %d %d %d\n", a, b, c);
        obj += line;
        if (!two_sided) return;
        const int orders[3][3] = {{a, c, b}, {c, b, a}, {b, a, c}};
        const int* o = orders[k++ % 3];
        std::snprintf(line, sizeof line, "f %d %d %d\n", o[0], o[1], o[2]);
        obj += line;
    };
    for (int j = 0; j < cells; ++j) {
        for (int i = 0; i < cells; ++i) {
            const int p00 = j * (cells + 1) + i + 1, p10 = p00 + 1, p01 = p00 + cells + 1, p11 = p01 + 1;
            // Wound to face away from the sphere's centre, towards the camera.
            add(p00, p10, p11);
            add(p00, p11, p01);
        }
    }
    return obj;
}

std::vector<float> render_alone(model* m) {
    light lamp{{0.94f, 0.94f, 0.737f}, {-2000.0f, 1500.0f, -3000.0f}};
    test_scene s({m}, {&lamp});
    camera_view view;
    view.width = 400;
    view.height = 300;
    const camera cam = setup_camera(view);
    std::vector<float> pixels(3 * 400 * 300);
    render_picture(s.get(), cam, 1, 0, picture_by_rows(pixels.data(), cam));
    return pixels;
}

}  // namespace

TEST(two_sided, a_lit_two_sided_sheet_shows_no_speckle) {
    // Every point of the cap faces the light and nothing stands between:
    // one-sided, every pixel of it is lit. Two-sided, the copies must not
    // shadow a single one.
    model* one = model_of(cap(60, false));
    model* two = model_of(cap(60, true));
    const std::vector<float> lit = render_alone(one);
    const std::vector<float> seen = render_alone(two);
    int sheet = 0, speckle = 0;
    for (std::size_t i = 0; i < lit.size(); i += 3) {
        if (lit[i + 1] == 0.0f) continue;
        ++sheet;
        speckle += seen[i + 1] < lit[i + 1];
    }
    EXPECT_GT(sheet, 2000);
    EXPECT_EQ(speckle, 0) << "of " << sheet << " lit pixels";
    EXPECT_EQ(seen, lit);
    delete one;
    delete two;
}

namespace {

// Met by the shadow ray from one point only, at `near` with `facing`; by
// every other ray but the camera's at `far`, when that is set.
class scripted_occluder : public object {
public:
    vector3 camera_origin;
    vector3 from;
    float near = -1.0f;
    vector3 facing;
    float far = -1.0f;
    vector3 last_normal;
    int get_type() const override { return 0; }
    int intersect(const ray& r, float& distance) override {
        const float at = r.origin == from ? near : r.origin == camera_origin ? -1.0f : far;
        if (!(at > 0.0f && at < distance)) return hit_none;
        distance = at;
        last_normal = r.origin == from ? facing : vector3{0.0f, -1.0f, 0.0f};
        return hit_outside;
    }
    vector3 get_normal(const vector3&) const override { return last_normal; }
};

}  // namespace

TEST(two_sided, within_the_reach_only_the_other_side_is_ignored) {
    // A triangle facing up, lit from above; the occluder is scripted
    // relative to the reach of the shadow ray from the struck point.
    model* floor = model_of("v 0 0 0\nv 0 0 1\nv 1 0 0\nf 1 2 3\n");
    const ray view{{1000.0f, 100.0f, 1000.0f}, {0.0f, -1.0f, 0.0f}};
    light lamp{{1.0f, 1.0f, 1.0f}, {1000.0f, 1000.0f, 1300.0f}};
    float t = 1e30f;
    ASSERT_NE(floor->intersect(view, t), hit_none);
    const vector3 p = view.origin + view.direction * t;
    const vector3 to_light = lamp.position - p;
    const vector3 l = to_light * (1.0f / rounded_sqrt(dot(to_light, to_light)));
    const float reach = shadow_reach(triangle_tolerance(floor->surface_of_hit(p)), l);
    ASSERT_GT(reach, 0.0f);

    const vector3 against{0.0f, -1.0f, 0.0f}, tilted_against{0.6f, -0.8f, 0.0f}, along{0.6f, 0.8f, 0.0f};
    const struct {
        const char* what;
        float near;
        vector3 facing;
        float far;
        bool lit;
    } cases[] = {
        {"its other side, just off the point", reach * 0.01f, against, -1.0f, true},
        {"its other side, at the end of the reach", reach, tilted_against, -1.0f, true},
        {"a fold rising out of it", reach * 0.5f, along, -1.0f, false},
        {"its other side, and a real occluder past it", reach * 0.5f, against, 50.0f, false},
        {"something facing against it, beyond the reach", reach * 3.0f, against, -1.0f, false},
    };
    for (const auto& c : cases) {
        scripted_occluder occluder;
        occluder.camera_origin = view.origin;
        occluder.from = p;
        occluder.near = c.near;
        occluder.facing = c.facing;
        occluder.far = c.far;
        test_scene s({floor, &occluder}, {&lamp});
        vector3 color;
        int depth = 0;
        float weight = 1.0f;
        trace(s.get(), &depth, 5, &weight, &color, 1.0f, view);
        EXPECT_EQ(color.y > 0.0f, c.lit) << c.what;
    }
    delete floor;
}
