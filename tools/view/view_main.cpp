// raytracer-view: the built-in scene explored live. The camera circles the
// model while the mouse drags, and the exact picture refines in place
// whenever it stops.

#include <SDL.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/display.h"
#include "app/memory_limit.h"
#include "app/output.h"
#include "scene/scene.h"
#include "tools/command_line.h"
#include "tools/png_file.h"
#include "tools/view/viewer.h"
#include "world/build_scene.h"

namespace {

const char program[] = "raytracer-view";

const char usage[] = "usage: raytracer-view [--mesh PATH] [--fit] [--up AXIS] [--output FILE.png]\n";

const char help[] =
    "Shows the built-in scene in an 800 x 600 window and moves its camera\n"
    "live: frames at a fraction of the window's size while the camera moves,\n"
    "then, once it stops, the exact picture, the one raytracer-snapshot\n"
    "renders from that camera.\n"
    "\n"
    "  --mesh PATH        the mesh to load, an OBJ, PLY or STL file told by\n"
    "                     its content (default: bunny.obj in the working\n"
    "                     directory)\n"
    "  --fit              place the mesh where the bunny stands, whatever its\n"
    "                     size, units and position\n"
    "  --up AXIS          the axis that points up in the file: +y (default),\n"
    "                     +z, -y, +x, -x or -z\n"
    "  --output FILE.png  where S saves the picture (default: the first of\n"
    "                     raytracer-view-1.png, -2, ... not yet there)\n"
    "  --help             show this text and exit\n"
    "\n"
    "Left drag: circle the model's centre. Right or middle drag, arrow keys:\n"
    "move the camera sideways and up or down. Wheel, + and -: nearer,\n"
    "farther. R: back to the first view. S: save the exact picture as PNG\n"
    "(once it is complete). Esc or closing the window: quit.\n"
    "\n"
    "The title shows the latest frame's size, render time and primary rays\n"
    "a second.\n"
    "\n"
    "Exit status: 0 when the window is closed, 1 when the mesh, the window\n"
    "or standard output fails, 2 on bad arguments.\n";

// How far the camera moves for a pixel of drag, a step of the wheel or a
// press of a key.
constexpr double radians_a_pixel = 0.01;
constexpr double zoom_step = 1.25;
constexpr double pan_keys_pixels = 40.0;

// The title is written at most this often while frames come.
constexpr double title_every = 0.25;

struct options {
    mesh_options scene;
    std::string output;  // "" for numbered names
};

int bad_arguments(const std::string& why) {
    report_failure(std::string(program) + ": " + why);
    std::fputs(usage, stderr);
    return 2;
}

// Returns -1 to go on, or the exit status.
int parse_arguments(int argc, char** argv, options* o) {
    std::vector<std::string> flags = mesh_flags;
    flags.insert(flags.end(), {"--help", "-h"});
    std::vector<std::string> valued = mesh_valued;
    valued.push_back("--output");
    for (int i = 1; i < argc; ++i) {
        argument a;
        std::string why = read_argument(argc, argv, &i, flags, valued, &a);
        if (why.empty() && (a.name == "--help" || a.name == "-h")) {
            std::printf("%s%s", usage, help);
            return 0;
        }
        if (why.empty() && !take_mesh_option(a, &o->scene, &why)) o->output = a.value;
        if (!why.empty()) return bad_arguments(why);
    }
    if (!o->output.empty() && same_file(o->scene.mesh.c_str(), o->output.c_str()))
        return bad_arguments("--output '" + o->output + "' is the mesh itself");
    return -1;
}

// Where S saves: --output, or the first numbered name not yet taken.
std::string save_name(const std::string& output) {
    if (!output.empty()) return output;
    for (int n = 1;; ++n) {
        const std::string name = "raytracer-view-" + std::to_string(n) + ".png";
        struct stat taken;
        if (lstat(name.c_str(), &taken) != 0) return name;
    }
}

void save(const viewer& v, const std::string& output) {
    const std::string name = save_name(output);
    const std::string why = write_png(name.c_str(), v.finished_picture());
    if (!why.empty()) {
        report_failure(std::string(program) + ": cannot write " + name + ": " + why);
        return;
    }
    std::printf("saved %s\n", printable(name).c_str());
    std::fflush(stdout);
}

void show_figures(const viewer::frame_figures& f) {
    char title[128];
    const double seconds = std::max(f.seconds, 1e-6);
    std::snprintf(title, sizeof title, "%s: %dx%d%s, %.1f ms, %.1f M rays/s", program, f.width, f.height,
                  f.exact ? " exact" : "", seconds * 1e3, f.width * f.height / seconds / 1e6);
    SDL_WM_SetCaption(title, nullptr);
}

// What the user asked for, event by event.
struct controls {
    const orbit_rig& rig;
    viewer& view;
    bool quit = false;
    bool save = false;

    void key(SDLKey k) {
        const orbit& o = view.position();
        switch (k) {
        case SDLK_ESCAPE: quit = true; break;
        case SDLK_r: view.move_to(orbit{}); break;
        case SDLK_s: save = true; break;
        case SDLK_PLUS: case SDLK_EQUALS: case SDLK_KP_PLUS: view.move_to(zoomed(o, 1.0 / zoom_step)); break;
        case SDLK_MINUS: case SDLK_KP_MINUS: view.move_to(zoomed(o, zoom_step)); break;
        // The arrows move the camera; the picture moves the other way.
        case SDLK_LEFT: view.move_to(panned(rig, o, pan_keys_pixels, 0.0, rig.home.height)); break;
        case SDLK_RIGHT: view.move_to(panned(rig, o, -pan_keys_pixels, 0.0, rig.home.height)); break;
        case SDLK_UP: view.move_to(panned(rig, o, 0.0, pan_keys_pixels, rig.home.height)); break;
        case SDLK_DOWN: view.move_to(panned(rig, o, 0.0, -pan_keys_pixels, rig.home.height)); break;
        default: break;
        }
    }

    void handle(const SDL_Event& e, SDL_Surface* screen) {
        const orbit& o = view.position();
        switch (e.type) {
        case SDL_QUIT: quit = true; break;
        case SDL_KEYDOWN: key(e.key.keysym.sym); break;
        case SDL_VIDEOEXPOSE: SDL_Flip(screen); break;
        case SDL_MOUSEBUTTONDOWN:
            if (e.button.button == SDL_BUTTON_WHEELUP) view.move_to(zoomed(o, 1.0 / zoom_step));
            if (e.button.button == SDL_BUTTON_WHEELDOWN) view.move_to(zoomed(o, zoom_step));
            break;
        case SDL_MOUSEMOTION:
            // The model turns with the mouse as if held; a sideways drag
            // carries it along.
            if (e.motion.state & SDL_BUTTON(SDL_BUTTON_LEFT))
                view.move_to(turned(rig, o, e.motion.xrel * radians_a_pixel, e.motion.yrel * radians_a_pixel));
            else if (e.motion.state & (SDL_BUTTON(SDL_BUTTON_MIDDLE) | SDL_BUTTON(SDL_BUTTON_RIGHT)))
                view.move_to(panned(rig, o, e.motion.xrel, e.motion.yrel, rig.home.height));
            break;
        default: break;
        }
    }
};

// The window's life: events, frames and the title until a quit.
void run(SDL_Surface* screen, const orbit_rig& rig, viewer& view, const std::string& output) {
    controls c{rig, view};
    using clock_type = std::chrono::steady_clock;
    clock_type::time_point titled = clock_type::now() - std::chrono::seconds(1);
    bool title_due = false;
    while (!c.quit) {
        // With the picture complete there is nothing to do but wait.
        SDL_Event e;
        if (view.finished() && !title_due && SDL_WaitEvent(&e)) c.handle(e, screen);
        while (SDL_PollEvent(&e)) c.handle(e, screen);
        if (c.quit) break;

        const bool was_finished = view.finished();
        const long frames_before = view.latest().count;
        if (view.step(screen, std::chrono::milliseconds(4))) SDL_Flip(screen);
        const viewer::frame_figures& now = view.latest();
        title_due = title_due || now.count != frames_before;
        const bool just_finished = view.finished() && !was_finished;
        if (title_due && (just_finished || std::chrono::duration<double>(clock_type::now() - titled).count() >= title_every)) {
            show_figures(now);
            titled = clock_type::now();
            title_due = false;
        }
        if (c.save && view.finished()) {
            save(view, output);
            c.save = false;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    start_output();
    options o;
    const int status = parse_arguments(argc, argv, &o);
    if (status >= 0) return finish_output(program, status);

    {
        const one_thread_under_memory_limit one_thread;
        current_scene = new (std::nothrow) scene;
        if (!current_scene) {
            report_failure(std::string(program) + ": out of memory building the scene");
            return finish_output(program, 1);
        }
        std::string error;
        if (!build_scene(o.scene.mesh.c_str(), o.scene.placement, &error, session_primary_rays(o.scene.placement.view))) {
            report_failure(error);
            return finish_output(program, 1);
        }
    }
    flush_output();
    const orbit_rig rig{o.scene.placement.view, model_centre(*current_scene)};

    SDL_Surface* screen = open_window(program, program, SDL_SWSURFACE);
    if (screen == nullptr) return finish_output(program, 1);
    int exit_status = 0;
    try {
        viewer view(current_scene, rig, static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
        run(screen, rig, view, o.output);
    } catch (const std::bad_alloc&) {
        report_failure(std::string(program) + ": out of memory while rendering");
        exit_status = 1;
    } catch (const std::system_error& e) {
        report_failure(std::string(program) + ": cannot start the render threads: " + e.what());
        exit_status = 1;
    }
    SDL_Quit();

    destroy_scene(current_scene);
    delete current_scene;
    current_scene = nullptr;
    return finish_output(program, exit_status);
}
