#include "app/display.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/image.h"
#include "tests/support/sdl_seams.h"

namespace {

SDL_Event user_event(int code) {
    SDL_Event e{};
    e.type = SDL_USEREVENT;
    e.user.code = code;
    return e;
}

// Under the dummy driver (set by ctest) the window opens without a display.
TEST(display, opens_the_captioned_window_of_the_image_size) {
    SDL_Surface* screen = open_window();
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(screen->w, image_width);
    EXPECT_EQ(screen->h, image_height);
    EXPECT_EQ(screen->format->BitsPerPixel, 32);
    char* title = nullptr;
    SDL_WM_GetCaption(&title, nullptr);
    ASSERT_NE(title, nullptr);
    EXPECT_STREQ(title, "Raytracer v1.0");
    SDL_Quit();
}

TEST(display, a_pending_quit_ends_the_loop_after_one_redraw_and_a_full_drain) {
    SDL_Surface* screen = open_window();
    ASSERT_NE(screen, nullptr);
    std::fill(std::begin(image), std::end(image), 0.0f);
    image[image_index(0, 0)] = 200.0f;

    // Drop whatever the window's opening queued, then line up a quit
    // between other events.
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
    }
    SDL_Event first = user_event(1), last = user_event(2), quit{};
    quit.type = SDL_QUIT;
    ASSERT_EQ(SDL_PushEvent(&first), 0);
    ASSERT_EQ(SDL_PushEvent(&quit), 0);
    ASSERT_EQ(SDL_PushEvent(&last), 0);

    seen = sdl_calls{};
    display_loop(screen);
    EXPECT_EQ(seen.flips, 1);  // drawn first, and not again after the quit
    EXPECT_EQ(SDL_PollEvent(&e), 0) << "event " << int(e.type) << " left in the queue";

    Uint8 r, g, b;
    SDL_GetRGB(*static_cast<Uint32*>(screen->pixels), screen->format, &r, &g, &b);
    EXPECT_EQ(r, 200);
    SDL_Quit();
}

TEST(display, the_loop_runs_on_until_a_drain_sees_the_quit) {
    SDL_Surface* screen = open_window();
    ASSERT_NE(screen, nullptr);
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
    }
    // Round 1 drains an ordinary event and must go on; the flip of round 3
    // queues the quit, so that round's drain ends the loop.
    SDL_Event ordinary = user_event(3);
    ASSERT_EQ(SDL_PushEvent(&ordinary), 0);
    seen = sdl_calls{};
    seen.quit_on_flip = 3;
    display_loop(screen);
    EXPECT_EQ(seen.flips, 3);
    SDL_Quit();
}

}  // namespace
