#include "app/display.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "app/draw_image.h"
#include "app/image.h"
#include "app/output.h"

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

// Standard error sent to /dev/null while it lives. The libraries beneath
// SDL print their own complaints there as they look for a display (Wayland's
// about XDG_RUNTIME_DIR, say); SDL_GetError gives the one line we print.
struct muted_standard_error {
    const int saved = dup(STDERR_FILENO);
    muted_standard_error() {
        const int null = saved >= 0 ? open("/dev/null", O_WRONLY) : -1;
        if (null < 0) return;
        dup2(null, STDERR_FILENO);
        close(null);
    }
    ~muted_standard_error() {
        if (saved < 0) return;
        dup2(saved, STDERR_FILENO);
        close(saved);
    }
};

// Starts SDL video and opens the window in `screen`; returns what failed,
// or "".
std::string start_window(Uint32 flags, SDL_Surface** screen) {
    if (SDL_Init(SDL_INIT_VIDEO) < 0) return std::string("cannot start SDL video: ") + SDL_GetError();
    if (fell_back_to_screenless_driver()) return "cannot open the window: no display is available";
    *screen = SDL_SetVideoMode(image_width, image_height, 32, flags);
    if (*screen == nullptr) return std::string("cannot open the window: ") + SDL_GetError();
    return "";
}

}  // namespace

SDL_Surface* open_window() { return open_window("raytracer", "Raytracer v1.0", SDL_DOUBLEBUF); }

SDL_Surface* open_window(const char* program, const char* caption, Uint32 flags) {
    SDL_Surface* screen = nullptr;
    std::string failure;
    {
        muted_standard_error muted;
        failure = start_window(flags, &screen);
    }
    if (failure.empty()) {
        SDL_WM_SetCaption(caption, nullptr);
        return screen;
    }
    report_failure(std::string(program) + ": " + failure);
    SDL_Quit();
    return nullptr;
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
