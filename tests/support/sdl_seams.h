#pragma once

#include <SDL.h>

// The app tests link with --wrap for SDL_LockSurface, SDL_UnlockSurface and
// SDL_Flip (see tests/app/tests.cmake), so every call draw_image makes is counted, and
// a lock can be made to fail the way a lost hardware surface would, and a
// quit request can be timed to a given frame.
struct sdl_calls {
    int locks = 0;
    int unlocks = 0;
    int flips = 0;
    bool fail_lock = false;
    int quit_on_flip = 0;  // the flip with this number queues SDL_QUIT
};

extern sdl_calls seen;
