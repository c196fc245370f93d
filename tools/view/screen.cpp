#include "tools/view/screen.h"

#include <algorithm>
#include <cstddef>

#include "app/pixel.h"

bool draw_rows(SDL_Surface* screen, const float* pixels, int width, int scale, int y0, int y1) {
    // Every store below writes a whole 32-bit word.
    if (screen == nullptr || screen->format == nullptr || screen->format->BytesPerPixel != 4) return false;
    const bool locked = SDL_MUSTLOCK(screen);
    if (locked && SDL_LockSurface(screen) < 0) return false;

    Uint32* const words = static_cast<Uint32*>(screen->pixels);
    const std::size_t pitch = screen->pitch;
    const int columns = std::min(width, (screen->w + scale - 1) / scale);
    for (int y = y0; y < y1; ++y) {
        const float* source = pixels + 3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(y);
        const int top = y * scale;
        const int bottom = std::min(top + scale, screen->h);
        for (int x = 0; x < columns; ++x) {
            const float* rgb = source + 3 * x;
            const Uint32 value = SDL_MapRGB(screen->format, to_8bit(rgb[0]), to_8bit(rgb[1]), to_8bit(rgb[2]));
            const int left = x * scale;
            const int right = std::min(left + scale, screen->w);
            for (int sy = top; sy < bottom; ++sy) {
                Uint32* const row = words + (pitch * static_cast<std::size_t>(sy)) / 4;
                for (int sx = left; sx < right; ++sx) row[sx] = value;
            }
        }
    }

    if (locked) SDL_UnlockSurface(screen);
    return true;
}
