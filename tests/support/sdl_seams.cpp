#include "tests/support/sdl_seams.h"

sdl_calls seen;

extern "C" {

int __real_SDL_LockSurface(SDL_Surface* surface);
void __real_SDL_UnlockSurface(SDL_Surface* surface);
int __real_SDL_Flip(SDL_Surface* surface);

int __wrap_SDL_LockSurface(SDL_Surface* surface) {
    ++seen.locks;
    if (seen.fail_lock) return -1;
    return __real_SDL_LockSurface(surface);
}

void __wrap_SDL_UnlockSurface(SDL_Surface* surface) {
    ++seen.unlocks;
    __real_SDL_UnlockSurface(surface);
}

int __wrap_SDL_Flip(SDL_Surface* surface) {
    ++seen.flips;
    const int result = __real_SDL_Flip(surface);
    if (seen.flips == seen.quit_on_flip) {
        SDL_Event quit{};
        quit.type = SDL_QUIT;
        SDL_PushEvent(&quit);
    }
    return result;
}

}  // extern "C"
