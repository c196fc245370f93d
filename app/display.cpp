#include "app/display.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/draw_image.h"
#include "app/image.h"

namespace {

// Without a reachable display SDL 2 (under the 1.2 API) quietly settles on a
// driver that has no screen; the loop would then spin forever showing
// nothing. Unless the user asked for such a driver, that counts as no window.
bool fell_back_to_screenless_driver() {
    const char* requested = std::getenv("SDL_VIDEODRIVER");
    if (requested != nullptr && requested[0] != '\0') return false;
    char name[64];
    if (SDL_VideoDriverName(name, sizeof name) == nullptr) return false;
    return std::strcmp(name, "offscreen") == 0 || std::strcmp(name, "dummy") == 0;
}

}  // namespace

SDL_Surface* open_window() {
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        std::fprintf(stderr, "raytracer: cannot start SDL video: %s\n", SDL_GetError());
        return nullptr;
    }
    if (fell_back_to_screenless_driver()) {
        std::fprintf(stderr, "raytracer: cannot open the window: no display is available\n");
        SDL_Quit();
        return nullptr;
    }
    SDL_Surface* screen = SDL_SetVideoMode(image_width, image_height, 32, SDL_DOUBLEBUF);
    if (screen == nullptr) {
        std::fprintf(stderr, "raytracer: cannot open the window: %s\n", SDL_GetError());
        SDL_Quit();
        return nullptr;
    }
    SDL_WM_SetCaption("Raytracer v1.0", nullptr);
    return screen;
}

void display_loop(SDL_Surface* screen) {
    bool quit = false;
    while (!quit) {
        draw_image(screen);
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            if (event.type == SDL_QUIT) quit = true;
        }
    }
}
