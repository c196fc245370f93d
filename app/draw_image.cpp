#include "app/draw_image.h"

#include <algorithm>
#include <cstddef>

#include "app/image.h"
#include "app/pixel.h"

void draw_image(SDL_Surface* screen) {
    // Every store below writes a whole 32-bit word; any other depth would
    // run past the end of the row.
    if (screen == nullptr || screen->format == nullptr || screen->format->BytesPerPixel != 4) return;

    const bool locked = SDL_MUSTLOCK(screen);
    if (locked && SDL_LockSurface(screen) < 0) return;

    // The loop bounds come from the surface but never reach past the image.
    const int width = std::min(screen->w, image_width);
    const int height = std::min(screen->h, image_height);
    const std::size_t pitch = screen->pitch;
    Uint32* const words = static_cast<Uint32*>(screen->pixels);

    for (int y = height - 1; y >= 0; --y) {
        // Row y starts pitch * y bytes in; each pixel is one 4-byte word.
        Uint32* const row = words + (pitch * static_cast<std::size_t>(y)) / 4;
        for (int x = 0; x < width; ++x) {
            const float* const rgb = &image[image_index(x, y)];
            row[x] = SDL_MapRGB(screen->format, to_8bit(rgb[0]), to_8bit(rgb[1]), to_8bit(rgb[2]));
        }
    }

    if (locked) SDL_UnlockSurface(screen);
    SDL_Flip(screen);
}
