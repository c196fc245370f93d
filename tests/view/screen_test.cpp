// tools/view/screen.cpp: a picture drawn enlarged by whole blocks, clipped
// to the surface, each channel truncated as the window shows it, and the
// SDL_MUSTLOCK rule.

#include "tools/view/screen.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/sdl_seams.h"

namespace {

// A 10 x 6 surface of 32-bit pixels, 0x00RRGGBB, every pixel 0xdeadbeef;
// `must_lock` marks it as hardware for the while, so SDL_MUSTLOCK holds.
struct test_surface {
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, 10, 6, 32, 0xff0000, 0xff00, 0xff, 0);
    const Uint32 flags = s->flags;
    explicit test_surface(bool must_lock = false) {
        SDL_FillRect(s, nullptr, 0xdeadbeef);
        if (must_lock) s->flags |= SDL_HWSURFACE;
    }
    ~test_surface() {
        s->flags = flags;
        SDL_FreeSurface(s);
    }
    Uint32 at(int x, int y) const { return static_cast<Uint32*>(s->pixels)[y * s->pitch / 4 + x]; }
};

// A 3 x 2 picture whose pixel (x, y) is (10x + y, 0, 0), pixel (1, 1) aside.
std::vector<float> small_picture() {
    std::vector<float> p(3 * 3 * 2, 0.0f);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) p[3 * (3 * y + x)] = static_cast<float>(10 * x + y);
    p[3 * (3 * 1 + 1) + 0] = 254.99f;
    p[3 * (3 * 1 + 1) + 1] = -0.75f;
    p[3 * (3 * 1 + 1) + 2] = 300.0f;
    return p;
}

TEST(draw_rows, each_pixel_fills_its_block_from_its_top_left_corner_clipped_to_the_surface) {
    test_surface t;
    const std::vector<float> p = small_picture();
    ASSERT_TRUE(draw_rows(t.s, p.data(), 3, 4, 0, 2));
    // Columns 0-3 from x = 0, 4-7 from x = 1, 8-9 (cut short) from x = 2;
    // rows 0-3 from y = 0, rows 4-5 (cut short) from y = 1.
    const int expected_column[10] = {0, 0, 0, 0, 1, 1, 1, 1, 2, 2};
    const int expected_row[6] = {0, 0, 0, 0, 1, 1};
    for (int sy = 0; sy < 6; ++sy)
        for (int sx = 0; sx < 10; ++sx) {
            const int x = expected_column[sx], y = expected_row[sy];
            const Uint32 want = x == 1 && y == 1 ? 0xfe00ffu : static_cast<Uint32>(10 * x + y) << 16;
            EXPECT_EQ(t.at(sx, sy), want) << "at " << sx << ", " << sy;
        }
}

TEST(draw_rows, draws_only_the_rows_asked_for) {
    test_surface t;
    const std::vector<float> p = small_picture();
    ASSERT_TRUE(draw_rows(t.s, p.data(), 3, 2, 1, 2));
    for (int sx = 0; sx < 10; ++sx) {
        for (int sy : {0, 1, 4, 5}) EXPECT_EQ(t.at(sx, sy), 0xdeadbeefu) << "at " << sx << ", " << sy;
        const int x = sx / 2;
        const Uint32 want = sx >= 6 ? 0xdeadbeefu : x == 1 ? 0xfe00ffu : static_cast<Uint32>(10 * x + 1) << 16;
        for (int sy : {2, 3}) EXPECT_EQ(t.at(sx, sy), want) << "at " << sx << ", " << sy;
    }
}

TEST(draw_rows, a_surface_that_must_be_locked_is_locked_around_the_drawing_and_a_failed_lock_draws_nothing) {
    test_surface t(true);
    ASSERT_TRUE(SDL_MUSTLOCK(t.s));
    const std::vector<float> p = small_picture();
    seen = sdl_calls{};
    EXPECT_TRUE(draw_rows(t.s, p.data(), 3, 1, 0, 2));
    EXPECT_EQ(seen.locks, 1);
    EXPECT_EQ(seen.unlocks, 1);
    EXPECT_EQ(seen.flips, 0);
    EXPECT_EQ(t.at(2, 0), 20u << 16);

    test_surface u(true);
    seen = sdl_calls{};
    seen.fail_lock = true;
    EXPECT_FALSE(draw_rows(u.s, p.data(), 3, 1, 0, 2));
    EXPECT_EQ(seen.unlocks, 0);
    EXPECT_EQ(u.at(2, 0), 0xdeadbeefu);
    seen = sdl_calls{};
}

}  // namespace
