// raytracer-view-bench: the viewer's frame loop over a scripted orbit of
// the bunny, off screen: how many moving frames a second it renders and
// draws while the camera circles the model, and how long after the camera
// stops the exact picture is complete. Each round starts from the first
// view's finished picture, turns 3 degrees and tilts a little per frame
// for 120 frames, then stops.
//   raytracer-view-bench [--threads N] [--rounds N]   (defaults: 2 threads, 7 rounds)

#include <SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "scene/scene.h"
#include "tools/view/viewer.h"
#include "world/build_scene.h"

namespace {

using clock_type = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int frames_a_round = 120;
constexpr double pi = 3.14159265358979323846;

double seconds_since(clock_type::time_point t) { return std::chrono::duration<double>(clock_type::now() - t).count(); }

struct summary {
    double min = 0.0, median = 0.0;
};

summary summarise(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return {v.front(), n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2])};
}

// Steps until `done` holds, as the viewer's loop does.
template <class F>
void step_until(viewer& v, SDL_Surface* screen, F done) {
    while (!done()) v.step(screen, milliseconds(4));
}

}  // namespace

int main(int argc, char** argv) {
    int threads = 2, rounds = 7;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--threads") threads = std::max(1, std::atoi(argv[i + 1]));
        if (a == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
    }

    // The scene's loading lines go nowhere.
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int null_device = open("/dev/null", O_WRONLY);
    dup2(null_device, STDOUT_FILENO);
    static scene world;
    current_scene = &world;
    std::string error;
    // Built as the viewer builds it: for a session's many pictures.
    const bool built = build_scene((std::string(RT_SOURCE_DIR) + "/assets/bunny.obj").c_str(), mesh_placement{}, &error,
                                   session_primary_rays(camera_view{}));
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    if (!built) {
        std::fprintf(stderr, "raytracer-view-bench: %s\n", error.c_str());
        return 1;
    }

    SDL_Surface* screen = SDL_CreateRGBSurface(SDL_SWSURFACE, 800, 600, 32, 0xff0000, 0xff00, 0xff, 0);
    const orbit_rig rig{camera_view{}, model_centre(world)};
    std::vector<double> fps, frame_ms, to_finished, from_rest;
    std::vector<int> sizes;
    for (int round = 0; round < rounds; ++round) {
        // From rest: the first view's exact picture, drawn.
        const auto rest = clock_type::now();
        viewer v(&world, rig, threads);
        step_until(v, screen, [&] { return v.finished(); });
        from_rest.push_back(seconds_since(rest));

        const auto start = clock_type::now();
        orbit o;
        for (int k = 1; k <= frames_a_round; ++k) {
            o = turned(rig, o, 3.0 * pi / 180.0, 0.004 * std::sin(k * pi / 30.0));
            v.move_to(o);
            const long before = v.latest().count;
            const auto frame_start = clock_type::now();
            step_until(v, screen, [&] { return v.latest().count > before; });
            frame_ms.push_back(seconds_since(frame_start) * 1e3);
            sizes.push_back(v.latest().width);
        }
        fps.push_back(frames_a_round / seconds_since(start));

        const auto stop = clock_type::now();
        step_until(v, screen, [&] { return v.finished(); });
        to_finished.push_back(seconds_since(stop));
    }
    SDL_FreeSurface(screen);

    const summary f = summarise(fps), m = summarise(frame_ms), t = summarise(to_finished), r = summarise(from_rest);
    int at_width[3] = {0, 0, 0};  // 400, 200 and 100 wide
    for (int w : sizes) ++at_width[w >= 400 ? 0 : w >= 200 ? 1 : 2];
    std::printf("\nThe viewer's frame loop over a scripted orbit of the bunny, %d threads, off screen\n"
                "(render and drawing into an 800 x 600 surface; %d rounds of %d moving frames):\n\n",
                threads, rounds, frames_a_round);
    std::printf("| Figure | min | median |\n|---|---|---|\n");
    std::printf("| Orbit: moving frames a second (target >= 30) | %.0f | %.0f |\n", f.min, f.median);
    std::printf("| Orbit: one moving frame, move to drawn | %.1f ms | %.1f ms |\n", m.min, m.median);
    std::printf("| Camera stops to exact picture drawn | %.1f ms | %.1f ms |\n", t.min * 1e3, t.median * 1e3);
    std::printf("| From rest: exact picture rendered and drawn | %.1f ms | %.1f ms |\n", r.min * 1e3, r.median * 1e3);
    std::printf("\nMoving frames a second over each whole round. Moving frames 400, 200 and 100\n"
                "pixels wide (as the time of the frames before asks): %d, %d and %d.\n",
                at_width[0], at_width[1], at_width[2]);
    return 0;
}
