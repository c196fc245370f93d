// tools/view/frames.cpp and viewer.cpp on the built-in scene over the
// bunny: a frame's picture is render_picture's, whatever was started and
// abandoned before it; the viewer shows moving frames enlarged and then the
// exact picture, and is finished only once that is drawn.

#include "tools/view/frames.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "app/pixel.h"
#include "render/render.h"
#include "tests/support/bunny_scene.h"
#include "tools/view/viewer.h"

namespace {

using std::chrono::milliseconds;

// The bunny's camera at a small size: non-stepped, as every size but
// 800 x 600 is.
camera small_camera(int width, int height, float turn = 0.0f) {
    camera_view v;
    v.position.z += turn;
    v.width = width;
    v.height = height;
    return setup_camera(v);
}

std::vector<float> reference(scene* s, const camera& cam) {
    std::vector<float> p(3 * static_cast<std::size_t>(cam.width) * static_cast<std::size_t>(cam.height));
    render_picture(s, cam, 1, 1, picture_by_rows(p.data(), cam));
    return p;
}

bool wait_complete(frame_renderer& r) {
    for (int k = 0; k < 600; ++k)
        if (r.wait(milliseconds(100))) return true;
    return false;
}

TEST(frame_renderer, a_complete_frame_is_render_picture_s_picture_and_every_row_is_done) {
    bunny_scene b;
    frame_renderer r(&b.s, 2, 160);
    for (const camera& cam : {small_camera(160, 120), small_camera(40, 30, 300.0f)}) {
        const frame& f = r.start(cam);
        ASSERT_TRUE(wait_complete(r));
        EXPECT_TRUE(f.complete());
        for (int y = 0; y < cam.height; ++y) EXPECT_TRUE(f.done(y)) << "row " << y;
        EXPECT_EQ(f.pixels, reference(&b.s, cam));
    }
    // A frame used again starts with no row done: a row seen done has been
    // counted, or is about to be by the worker that did it.
    const frame& again = r.start(small_camera(160, 120));
    int seen_done = 0;
    for (int y = 0; y < 120; ++y) seen_done += again.done(y);
    EXPECT_LE(seen_done, again.rows_done.load() + r.workers());
    ASSERT_TRUE(wait_complete(r));
}

TEST(frame_renderer, frames_started_one_after_another_leave_the_last_one_exact) {
    bunny_scene b;
    frame_renderer r(&b.s, 2, 200);
    const camera big = small_camera(200, 150, 100.0f);
    const camera last = small_camera(80, 60, -200.0f);
    // Abandoned at once, or halfway, or reused while a worker may still be
    // finishing a row of it.
    for (int k = 0; k < 30; ++k) {
        r.start(k % 2 ? big : last);
        if (k % 5 == 0) r.wait(std::chrono::microseconds(300));
    }
    const frame& f = r.start(last);
    ASSERT_TRUE(wait_complete(r));
    EXPECT_EQ(f.pixels, reference(&b.s, last));
}

// ---- the viewer -------------------------------------------------------------------

// A 160 x 120 home, so that the exact picture is quick; moving frames are
// 80 x 60 at first.
struct viewer_fixture {
    bunny_scene b;
    orbit_rig rig;
    SDL_Surface* screen = SDL_CreateRGBSurface(SDL_SWSURFACE, 160, 120, 32, 0xff0000, 0xff00, 0xff, 0);
    viewer_fixture() {
        rig.home.width = 160;
        rig.home.height = 120;
        rig.pivot = {-84.0, 550.0, -8.0};
    }
    ~viewer_fixture() { SDL_FreeSurface(screen); }

    Uint32 at(int x, int y) const { return static_cast<Uint32*>(screen->pixels)[y * screen->pitch / 4 + x]; }
    static Uint32 shown(const std::vector<float>& p, int width, int x, int y) {
        const float* rgb = &p[3 * (static_cast<std::size_t>(width) * y + x)];
        return static_cast<Uint32>(to_8bit(rgb[0])) << 16 | static_cast<Uint32>(to_8bit(rgb[1])) << 8 | to_8bit(rgb[2]);
    }
    // Steps until `done` holds; false after a minute.
    template <class F>
    bool step_until(viewer& v, F done) {
        for (int k = 0; k < 6000 && !done(); ++k) v.step(screen, milliseconds(10));
        return done();
    }
};

TEST(viewer, circles_the_centre_of_the_bunny_s_box) {
    // The box of assets/bunny.obj as loaded: x from -473.45001 to
    // 305.19501, y from 164.86 to 936.67999, z from -309.42999 to 294.06.
    bunny_scene b;
    const dvec c = model_centre(b.s);
    EXPECT_EQ(c.x, (static_cast<double>(-473.45001f) + static_cast<double>(305.19501f)) / 2.0);
    EXPECT_EQ(c.y, (static_cast<double>(164.86f) + static_cast<double>(936.67999f)) / 2.0);
    EXPECT_EQ(c.z, (static_cast<double>(-309.42999f) + static_cast<double>(294.06f)) / 2.0);
}

TEST(viewer, at_rest_it_draws_the_exact_picture_and_is_then_finished) {
    viewer_fixture t;
    viewer v(&t.b.s, t.rig, 2);
    EXPECT_FALSE(v.finished());
    ASSERT_TRUE(t.step_until(v, [&] { return v.finished(); }));
    const std::vector<float> exact = reference(&t.b.s, setup_camera(t.rig.home));
    EXPECT_EQ(v.finished_picture().pixels, exact);
    EXPECT_EQ(v.finished_picture().width, 160);
    int differing = 0;
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 160; ++x) differing += t.at(x, y) != viewer_fixture::shown(exact, 160, x, y);
    EXPECT_EQ(differing, 0);
    EXPECT_TRUE(v.latest().exact);
    EXPECT_EQ(v.latest().width, 160);
    // Nothing more to do, nothing drawn.
    EXPECT_FALSE(v.step(t.screen, milliseconds(1)));
}

TEST(viewer, a_move_abandons_the_exact_picture_for_a_half_size_frame_then_refines_to_the_new_view) {
    viewer_fixture t;
    viewer v(&t.b.s, t.rig, 2);
    const orbit moved = turned(t.rig, orbit{}, 0.5, 0.2);
    v.move_to(moved);
    const long before = v.latest().count;
    ASSERT_TRUE(t.step_until(v, [&] { return v.latest().count > before; }));
    EXPECT_FALSE(v.latest().exact);
    EXPECT_EQ(v.latest().width, 80);
    EXPECT_FALSE(v.finished());

    // Each pixel of the 80 x 60 frame fills the 2 x 2 block below and right
    // of its own sample point.
    camera_view half = view_of(t.rig, moved);
    half.width = 80;
    half.height = 60;
    const std::vector<float> coarse = reference(&t.b.s, setup_camera(half));
    int differing = 0;
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 160; ++x) differing += t.at(x, y) != viewer_fixture::shown(coarse, 80, x / 2, y / 2);
    EXPECT_EQ(differing, 0);

    ASSERT_TRUE(t.step_until(v, [&] { return v.finished(); }));
    EXPECT_EQ(v.finished_picture().pixels, reference(&t.b.s, setup_camera(view_of(t.rig, moved))));
    // Back home: the first picture again.
    v.move_to(orbit{});
    EXPECT_FALSE(v.finished());
    ASSERT_TRUE(t.step_until(v, [&] { return v.finished(); }));
    EXPECT_EQ(v.finished_picture().pixels, reference(&t.b.s, setup_camera(t.rig.home)));
}

}  // namespace
