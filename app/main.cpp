#include <SDL.h>

#include <cstdio>
#include <new>
#include <string>

#include "app/display.h"
#include "app/memory_limit.h"
#include "app/output.h"
#include "app/timed_render.h"
#include "scene/scene.h"
#include "world/build_scene.h"

// The whole run in one fixed sequence: build, render while timing it, then
// show the finished picture until the window is closed. Arguments are
// ignored. A mesh that cannot be loaded, or memory running out, ends the
// run with one line on standard error and status 1.
int main(int, char**) {
    start_output();
    {
        // Building and rendering only: SDL starts threads of its own.
        const one_thread_under_memory_limit one_thread;
        current_scene = new (std::nothrow) scene;
        if (!current_scene) {
            report_failure("raytracer: out of memory building the scene");
            return finish_output("raytracer", 1);
        }
        std::string error;
        if (!build_scene(&error)) {
            report_failure(error);
            return finish_output("raytracer", 1);
        }

        try {
            timed_render();
        } catch (const std::bad_alloc&) {
            report_failure("raytracer: out of memory while rendering");
            return finish_output("raytracer", 1);
        }
    }

    // On failure the scene is left to the process exit, as the time line has
    // already been printed and nothing else is.
    SDL_Surface* screen = open_window();
    if (screen == nullptr) return finish_output("raytracer", 1);
    display_loop(screen);
    SDL_Quit();

    std::printf("now what\n");
    if (current_scene != nullptr) {
        destroy_scene(current_scene);
        delete current_scene;
    }
    current_scene = nullptr;
    return finish_output("raytracer", 0);
}
