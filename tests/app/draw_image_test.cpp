#include "app/draw_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "app/image.h"
#include "tests/support/sdl_seams.h"

namespace {

// The suite runs under SDL_VIDEODRIVER=dummy (set by ctest), so the
// surfaces are real SDL surfaces with real formats and a real flip.
class draw_image_test : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError(); }
    static void TearDownTestSuite() { SDL_Quit(); }

    void SetUp() override {
        std::fill(std::begin(image), std::end(image), 0.0f);
        seen = sdl_calls{};
    }

    static void set_pixel(int x, int y, float r, float g, float b) {
        float* p = &image[image_index(x, y)];
        p[0] = r;
        p[1] = g;
        p[2] = b;
    }

    static Uint32 word_at(SDL_Surface* s, int x, int y) {
        const auto* bytes = static_cast<const std::uint8_t*>(s->pixels);
        return *reinterpret_cast<const Uint32*>(bytes + y * s->pitch + x * 4);
    }

    struct rgb {
        int r, g, b;
    };
    static rgb shown(SDL_Surface* s, int x, int y) {
        Uint8 r, g, b;
        SDL_GetRGB(word_at(s, x, y), s->format, &r, &g, &b);
        return {r, g, b};
    }
};

constexpr Uint32 sentinel = 0xA5A5A5A5u;

// A surface over our own memory with room to spare on every row, filled with
// a sentinel so that stray writes show up.
struct padded_surface {
    std::vector<Uint32> words;
    SDL_Surface* surface = nullptr;

    padded_surface(int w, int h, int spare_words) : words(static_cast<std::size_t>((w + spare_words) * h), sentinel) {
        surface = SDL_CreateRGBSurfaceFrom(words.data(), w, h, 32, (w + spare_words) * 4,
                                           0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0);
    }
    ~padded_surface() { SDL_FreeSurface(surface); }
    Uint32 at(int x, int y) const { return words[static_cast<std::size_t>(y * (surface->pitch / 4) + x)]; }
};

TEST_F(draw_image_test, channels_truncate_toward_zero_and_clamp_to_the_byte_range) {
    struct sample {
        float channel;
        int component;
    };
    const float inf = std::numeric_limits<float>::infinity();
    const sample samples[] = {
        {0.0f, 0},     {0.5f, 0},       {0.99f, 0},          {1.0f, 1},        {100.33468f, 100},
        {254.99f, 254}, {255.0f, 255},  {255.5f, 255},       {1e30f, 255},     {inf, 255},
        {-0.75f, 0},   {-1.0f, 0},      {-72.43f, 0},        {-72.426483f, 0}, {-1e30f, 0},
        {-inf, 0},     {std::nanf(""), 0},
    };
    const int count = static_cast<int>(sizeof samples / sizeof samples[0]);
    // Each value goes through every channel position once, so a mixed-up
    // channel order shows as well.
    for (int i = 0; i < count; ++i) {
        set_pixel(i, 0, samples[i].channel, 7.0f, 9.0f);
        set_pixel(i, 1, 7.0f, samples[i].channel, 9.0f);
        set_pixel(i, 2, 7.0f, 9.0f, samples[i].channel);
    }
    padded_surface target(count, 3, 0);
    ASSERT_NE(target.surface, nullptr) << SDL_GetError();
    draw_image(target.surface);
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(testing::Message() << "channel value " << samples[i].channel);
        const rgb red = shown(target.surface, i, 0);
        const rgb green = shown(target.surface, i, 1);
        const rgb blue = shown(target.surface, i, 2);
        EXPECT_EQ(red.r, samples[i].component);
        EXPECT_EQ(red.g, 7);
        EXPECT_EQ(red.b, 9);
        EXPECT_EQ(green.g, samples[i].component);
        EXPECT_EQ(green.r, 7);
        EXPECT_EQ(blue.b, samples[i].component);
        EXPECT_EQ(blue.g, 9);
    }
}

TEST_F(draw_image_test, every_pixel_of_the_screen_shows_its_own_image_pixel_the_right_way_up) {
    SDL_Surface* screen = SDL_SetVideoMode(image_width, image_height, 32, SDL_DOUBLEBUF);
    ASSERT_NE(screen, nullptr) << SDL_GetError();
    ASSERT_EQ(screen->w, image_width);
    ASSERT_EQ(screen->h, image_height);
    // A pattern that differs at every pixel: a transposed, mirrored or
    // shifted copy cannot match it anywhere but by accident.
    for (int x = 0; x < image_width; ++x)
        for (int y = 0; y < image_height; ++y)
            set_pixel(x, y, static_cast<float>(x & 255), static_cast<float>(y & 255),
                      static_cast<float>((x >> 8) | ((y >> 8) << 4)) + 0.5f);
    draw_image(screen);
    EXPECT_EQ(seen.flips, 1);
    EXPECT_EQ(seen.locks, seen.unlocks);
    int wrong = 0;
    for (int y = 0; y < image_height; ++y)
        for (int x = 0; x < image_width; ++x) {
            const rgb got = shown(screen, x, y);
            if (got.r != (x & 255) || got.g != (y & 255) || got.b != ((x >> 8) | ((y >> 8) << 4))) {
                if (++wrong <= 5) ADD_FAILURE() << "pixel (" << x << ", " << y << ") shows " << got.r << ' ' << got.g << ' ' << got.b;
            }
        }
    EXPECT_EQ(wrong, 0);
}

TEST_F(draw_image_test, rows_follow_the_pitch_and_the_padding_stays_untouched) {
    // 5 x 4 pixels on rows of 8 words: each row starts pitch bytes after the
    // previous one, not 5 * 4.
    padded_surface target(5, 4, 3);
    ASSERT_NE(target.surface, nullptr) << SDL_GetError();
    ASSERT_EQ(target.surface->pitch, 32);
    for (int x = 0; x < 5; ++x)
        for (int y = 0; y < 4; ++y) set_pixel(x, y, 10.0f * x, 10.0f * y, 200.0f);
    draw_image(target.surface);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 5; ++x) EXPECT_EQ(target.at(x, y), SDL_MapRGB(target.surface->format, 10 * x, 10 * y, 200)) << x << ", " << y;
        for (int x = 5; x < 8; ++x) EXPECT_EQ(target.at(x, y), sentinel) << "padding " << x << ", " << y;
    }
    EXPECT_EQ(seen.locks, 0);  // our own memory needs no lock
    EXPECT_EQ(seen.flips, 1);
}

TEST_F(draw_image_test, a_surface_larger_than_the_image_keeps_its_margin) {
    padded_surface target(image_width + 2, image_height + 1, 0);
    ASSERT_NE(target.surface, nullptr) << SDL_GetError();
    set_pixel(image_width - 1, image_height - 1, 1.0f, 2.0f, 3.0f);
    draw_image(target.surface);
    EXPECT_EQ(target.at(image_width - 1, image_height - 1), SDL_MapRGB(target.surface->format, 1, 2, 3));
    EXPECT_EQ(target.at(0, 0), SDL_MapRGB(target.surface->format, 0, 0, 0));
    for (int y = 0; y < image_height + 1; ++y) {
        EXPECT_EQ(target.at(image_width, y), sentinel) << y;
        EXPECT_EQ(target.at(image_width + 1, y), sentinel) << y;
    }
    for (int x = 0; x < image_width + 2; ++x) EXPECT_EQ(target.at(x, image_height), sentinel) << x;
}

// SDL_MUSTLOCK is set by a hardware flag (or a non-zero offset); a surface
// from our own memory carries neither, so the flag is set by hand. The lock
// itself is real unless the seam makes it fail.
TEST_F(draw_image_test, a_surface_that_must_be_locked_is_locked_around_the_copy) {
    padded_surface target(4, 2, 0);
    ASSERT_NE(target.surface, nullptr) << SDL_GetError();
    const Uint32 flags = target.surface->flags;
    target.surface->flags |= SDL_HWSURFACE;
    ASSERT_TRUE(SDL_MUSTLOCK(target.surface));
    set_pixel(3, 1, 30.0f, 40.0f, 50.0f);
    draw_image(target.surface);
    target.surface->flags = flags;
    EXPECT_EQ(seen.locks, 1);
    EXPECT_EQ(seen.unlocks, 1);
    EXPECT_EQ(seen.flips, 1);
    EXPECT_EQ(target.at(3, 1), SDL_MapRGB(target.surface->format, 30, 40, 50));
}

TEST_F(draw_image_test, a_failed_lock_skips_the_whole_frame_including_the_flip) {
    padded_surface target(4, 2, 0);
    ASSERT_NE(target.surface, nullptr) << SDL_GetError();
    const Uint32 flags = target.surface->flags;
    target.surface->flags |= SDL_HWSURFACE;
    seen.fail_lock = true;
    set_pixel(0, 0, 30.0f, 40.0f, 50.0f);
    draw_image(target.surface);
    target.surface->flags = flags;
    EXPECT_EQ(seen.locks, 1);
    EXPECT_EQ(seen.unlocks, 0);
    EXPECT_EQ(seen.flips, 0);
    for (Uint32 word : target.words) EXPECT_EQ(word, sentinel);

    // The next round tries again and draws.
    seen.fail_lock = false;
    target.surface->flags |= SDL_HWSURFACE;
    draw_image(target.surface);
    target.surface->flags = flags;
    EXPECT_EQ(seen.flips, 1);
    EXPECT_EQ(target.at(0, 0), SDL_MapRGB(target.surface->format, 30, 40, 50));
}

TEST_F(draw_image_test, surfaces_it_cannot_fill_with_whole_words_are_left_alone) {
    std::vector<Uint16> words(4 * 2, 0xA5A5);
    SDL_Surface* narrow = SDL_CreateRGBSurfaceFrom(words.data(), 4, 2, 16, 8, 0xF800, 0x07E0, 0x001F, 0);
    ASSERT_NE(narrow, nullptr) << SDL_GetError();
    set_pixel(0, 0, 255.0f, 255.0f, 255.0f);
    draw_image(narrow);
    draw_image(nullptr);
    SDL_FreeSurface(narrow);
    for (Uint16 word : words) EXPECT_EQ(word, 0xA5A5);
    EXPECT_EQ(seen.flips, 0);
}

}  // namespace
