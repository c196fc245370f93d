#include <SDL.h>

#include <cstdio>

#include "app/display.h"
#include "app/timed_render.h"
#include "scene/scene.h"
#include "world/build_scene.h"

// The whole run in one fixed sequence: build, render while timing it, then
// show the finished picture until the window is closed. Arguments are
// ignored.
int main(int, char**) {
    current_scene = new scene;
    build_scene();

    timed_render();

    // On failure the scene is left to the process exit, as the time line has
    // already been printed and nothing else is.
    SDL_Surface* screen = open_window();
    if (screen == nullptr) return 1;
    display_loop(screen);
    SDL_Quit();

    std::printf("now what\n");
    if (current_scene != nullptr) {
        destroy_scene(current_scene);
        delete current_scene;
    }
    current_scene = nullptr;
    return 0;
}
