// Rendering in packets (trace_packet, render_rows) gives the picture of
// rendering ray by ray (trace_ray), bit for bit: on the built-in scene over
// the bunny with trees of both builders and over the hard meshes (a far
// outlier, a two-sided surface, a cylinder of slivers), at the default size
// and others, with several samples a pixel; and trace_packet colours every
// ray as trace_ray does in a scene that refracts, reflects back and forth
// and has two lights.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/image.h"
#include "mesh/obj/load_obj.h"
#include "render/camera.h"
#include "render/render.h"
#include "render/trace.h"
#include "scene/model.h"
#include "scene/plane.h"
#include "scene/sphere.h"
#include "tests/support/bunny.h"
#include "tests/support/files.h"
#include "tests/support/test_scene.h"

namespace {

// OBJ text, for meshes made in code: the loader owns what it makes.
struct obj_text {
    std::string text;
    int vertices = 0;

    void vertex(double x, double y, double z) {
        text += "v " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(z) + "\n";
        ++vertices;
    }
    void face(int a, int b, int c) {
        text += "f " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c) + "\n";
    }
};

std::string bunny_text() { return read_file(bunny_obj_path()); }

// The bunny and one triangle of 1 m legs 10 km away along +x.
std::string far_text() {
    obj_text far{bunny_text()};
    far.text += "v 10000 0.1 0\nv 10000 1.1 0\nv 10000 0.1 1\nf -3 -2 -1\n";
    return far.text;
}

// The bunny with each face followed by its reversed copy.
std::string two_sided_text() {
    const std::string text = bunny_text();
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        out += line + "\n";
        int a, b, c;
        if (std::sscanf(line.c_str(), "f %d %d %d", &a, &b, &c) == 3)
            out += "f " + std::to_string(a) + " " + std::to_string(c) + " " + std::to_string(b) + "\n";
        at = end + 1;
    }
    return out;
}

// A CAD cylinder where the bunny stands: 2048 quads round the side, so thin
// that both their triangles are slivers, each cap one polygon fanned from
// its first corner, slivers too near that corner.
std::string cylinder_text() {
    obj_text c;
    const int sides = 2048;
    for (int level = 0; level < 2; ++level)
        for (int k = 0; k < sides; ++k) {
            const double a = 6.283185307179586 * k / sides;
            c.vertex(-0.02 + 0.06 * std::cos(a), 0.033 + 0.15 * level, 0.06 * std::sin(a));
        }
    for (int k = 0; k < sides; ++k) {
        const int a = 1 + k, b = 1 + (k + 1) % sides;
        c.face(a, b + sides, b);  // facing out
        c.face(a, a + sides, b + sides);
    }
    for (int k = 1; k + 1 < sides; ++k) {
        c.face(1, 1 + k + 1, 1 + k);                        // bottom, facing down
        c.face(1 + sides, 1 + sides + k, 1 + sides + k + 1);  // top, facing up
    }
    return c.text;
}

// The built-in scene's light, floor and materials around a model of `text`.
struct mesh_scene {
    std::unique_ptr<model> mesh_model;
    plane floor;
    light lamp{{0.94f, 0.94f, 0.737f}, {-2000.0f, 1500.0f, -3000.0f}};
    std::unique_ptr<test_scene> s;

    mesh_scene(const std::string& text, bvh_method method) {
        mesh* m = new mesh;
        std::string error;
        EXPECT_TRUE(parse_obj(text.data(), text.size(), "mesh.obj", m, &error)) << error;
        mesh_model = std::make_unique<model>(owned_mesh(m), method);
        mesh_model->color = {0.0f, 1.0f, 1.0f};
        mesh_model->specular = {0.7f, 0.7f, 0.7f};
        mesh_model->specular_power = 70.0f;
        floor.normal = {0.0f, 1.0f, 0.0f};
        floor.offset = 170.0f;
        floor.color = {0.05f, 0.02f, 0.65f};
        floor.reflection = 0.6f;
        floor.specular_power = 500.0f;
        s = std::make_unique<test_scene>(std::initializer_list<object*>{mesh_model.get(), &floor},
                                         std::initializer_list<light*>{&lamp});
    }
};

std::vector<float> render(scene* s, const camera& cam, int samples, int threads, ray_grouping grouping) {
    std::vector<float> pixels(3 * static_cast<std::size_t>(cam.width) * cam.height, -1.0f);
    render_picture(s, cam, samples, threads, picture_by_rows(pixels.data(), cam), {}, grouping);
    return pixels;
}

// How many floats of two pictures differ in their bits.
long differing(const std::vector<float>& a, const std::vector<float>& b) {
    long n = 0;
    for (std::size_t k = 0; k < a.size(); ++k) n += std::memcmp(&a[k], &b[k], sizeof(float)) != 0;
    return n;
}

struct picture_case {
    const char* mesh;
    std::string (*text)();
    bvh_method method;
    int width, height, samples;
};

}  // namespace

TEST(render_packets, the_picture_is_the_single_rays_picture_bit_for_bit) {
    const picture_case cases[] = {
        {"bunny", bunny_text, bvh_method::surface_area, 800, 600, 1},
        {"bunny", bunny_text, bvh_method::morton, 800, 600, 1},
        {"bunny", bunny_text, bvh_method::surface_area, 203, 151, 2},
        {"bunny and a far triangle", far_text, bvh_method::surface_area, 320, 240, 1},
        {"bunny and a far triangle", far_text, bvh_method::morton, 320, 240, 1},
        {"two-sided bunny", two_sided_text, bvh_method::surface_area, 320, 240, 1},
        {"two-sided bunny", two_sided_text, bvh_method::morton, 161, 119, 2},
        {"cylinder of slivers", cylinder_text, bvh_method::surface_area, 320, 240, 1},
        {"cylinder of slivers", cylinder_text, bvh_method::morton, 320, 240, 1},
    };
    for (const picture_case& c : cases) {
        SCOPED_TRACE(std::string(c.mesh) + (c.method == bvh_method::morton ? ", Morton, " : ", heuristic, ") +
                     std::to_string(c.width) + " x " + std::to_string(c.height) + ", " + std::to_string(c.samples) + " samples");
        mesh_scene world(c.text(), c.method);
        if (std::string(c.mesh) == "cylinder of slivers") {
            const mesh& m = *world.mesh_model->geometry;
            int slivers = 0;
            for (int k = 0; k < m.face_count; ++k) {
                const face f = make_face(m, k);
                slivers += classify_triangle(f.vertex, f.normal) == triangle_kind::sliver;
            }
            EXPECT_GT(slivers, m.face_count / 2);
        }
        camera_view view;
        view.width = c.width;
        view.height = c.height;
        const camera cam = setup_camera(view);
        const std::vector<float> single = render(world.s->get(), cam, c.samples, 1, ray_grouping::single);
        EXPECT_EQ(differing(single, render(world.s->get(), cam, c.samples, 2, ray_grouping::packets)), 0);
        // The mesh shows, lit and in the mirror.
        long bright = 0;
        for (std::size_t k = 1; k < single.size(); k += 3) bright += single[k] > 100.0f;
        EXPECT_GT(bright, static_cast<long>(single.size()) / 200);
    }
}

// Rows rendered a band at a time are rows rendered one by one.
TEST(render_packets, bands_of_rows_are_the_rows) {
    mesh_scene world(bunny_text(), bvh_method::surface_area);
    const camera cam = setup_camera();
    row_workspace band_space(image_width, 4), row_space(image_width);
    std::vector<float> band(3 * 4 * image_width), row(3 * image_width);
    for (int y : {0, 233, 596}) {
        const int rows = y == 596 ? 4 : 3;
        render_rows(world.s->get(), cam, 1, y, rows, 100, 700, band_space, band.data());
        for (int r = 0; r < rows; ++r) {
            render_row(world.s->get(), cam, 1, y + r, 100, 700, row_space, row.data(), ray_grouping::single);
            EXPECT_EQ(std::memcmp(row.data(), band.data() + 3 * 600 * r, 3 * 600 * sizeof(float)), 0) << "row " << y + r;
        }
    }
}

// A scene of everything the tracer does: a glass sphere (refraction in and
// out), a mirror sphere, two mirror planes facing each other (chains of
// reflections to the depth limit), the bunny, two lights. Packets of rays
// from one point, each ray traced alone and in a packet.
TEST(render_packets, every_ray_of_a_packet_is_coloured_as_alone) {
    mesh* m = new mesh;
    std::string error;
    const std::string text = bunny_text();
    ASSERT_TRUE(parse_obj(text.data(), text.size(), "bunny.obj", m, &error)) << error;
    model bunny(owned_mesh(m), bvh_method::morton);
    bunny.color = {0.0f, 1.0f, 1.0f};
    bunny.specular = {0.7f, 0.7f, 0.7f};
    bunny.specular_power = 70.0f;
    sphere glass;
    glass.centre = {-1500.0f, 500.0f, 300.0f};
    glass.radius = 300.0f;
    glass.color = {0.2f, 0.3f, 0.2f};
    glass.specular = {0.5f, 0.5f, 0.5f};
    glass.specular_power = 20.0f;
    glass.refraction_index = 1.5f;
    sphere chrome;
    chrome.centre = {-800.0f, 300.0f, -600.0f};
    chrome.radius = 200.0f;
    chrome.color = {0.4f, 0.4f, 0.4f};
    chrome.reflection = 0.8f;
    chrome.refraction_index = 1.2f;
    plane floor, ceiling;
    floor.normal = {0.0f, 1.0f, 0.0f};
    floor.offset = 170.0f;
    floor.color = {0.05f, 0.02f, 0.65f};
    floor.reflection = 0.6f;
    ceiling.normal = {0.0f, -1.0f, 0.0f};
    ceiling.offset = -1400.0f;
    ceiling.color = {0.3f, 0.1f, 0.1f};
    ceiling.reflection = 0.5f;
    light a{{0.94f, 0.94f, 0.737f}, {-2000.0f, 1300.0f, -3000.0f}};
    light b{{0.2f, 0.4f, 0.9f}, {500.0f, 900.0f, 2000.0f}};
    test_scene s({&bunny, &glass, &chrome, &floor, &ceiling}, {&a, &b});

    std::mt19937 rng(21);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    long mismatches = 0, lit = 0;
    for (int n = 0; n < 400; ++n) {
        const vector3 eye = n % 2 ? vector3{-3000.0f, 800.0f, 500.0f} : vector3{-1500.0f, 500.0f, 300.0f};  // or inside the glass
        const vector3 at{-1000.0f + 900.0f * unit(rng), 500.0f + 600.0f * unit(rng), 700.0f * unit(rng)};
        ray rays[packet_size];
        const int count = n % 5 == 0 ? 1 + n % packet_size : packet_size;
        for (int k = 0; k < count; ++k)
            rays[k] = {eye, normalize(at + vector3{30.0f * (k % 4), 30.0f * (k / 4), 20.0f * unit(rng)} - eye)};
        vector3 packed[packet_size];
        trace_packet(s.get(), 5, 1.0f, rays, count, packed);
        for (int k = 0; k < count; ++k) {
            vector3 alone;
            int depth = 0;
            float weight = 1.0f;
            trace_ray(s.get(), &depth, 5, &weight, &alone, 1.0f, rays[k]);
            mismatches += std::memcmp(&alone, &packed[k], sizeof alone) != 0;
            lit += alone.x > 0.0f;
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(lit, 1000);
}
