// raytracer-snapshot: the program without a window. It builds the same
// scene, renders it, prints the same standard output up to the elapsed-time
// line and writes the picture the window would show to a PNG file.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "app/memory_limit.h"
#include "app/output.h"
#include "app/progress_line.h"
#include "app/timed_render.h"
#include "render/camera.h"
#include "render/render.h"
#include "scene/scene.h"
#include "tools/command_line.h"
#include "tools/png_file.h"
#include "world/build_scene.h"

namespace {

const char usage[] =
    "usage: raytracer-snapshot [--mesh PATH] [--output FILE.png] [--fit] [--up AXIS]\n"
    "                          [--size WxH] [--samples N]\n";

const char help[] =
    "Renders the built-in scene once, without opening a window, and writes\n"
    "the picture the window would show (800 x 600, 8-bit RGB) to a PNG file.\n"
    "Standard output is the program's own, up to the elapsed-time line, with\n"
    "any options.\n"
    "\n"
    "  --mesh PATH        the mesh to load, an OBJ, PLY or STL file told by\n"
    "                     its content (default: bunny.obj in the working\n"
    "                     directory)\n"
    "  --output FILE.png  where to write the picture (default: raytracer.png)\n"
    "  --fit              place the mesh where the bunny stands, whatever its\n"
    "                     size, units and position: as large in the picture as\n"
    "                     the bunny, wholly in the frame, resting on the floor\n"
    "  --up AXIS          the axis that points up in the file: +y (default),\n"
    "                     +z for most CAD and 3D-printing files, or -y, +x, -x,\n"
    "                     -z; the mesh is turned so that it points up\n"
    "  --size WxH         the picture's size in pixels (default: 800x600), each\n"
    "                     1 to 16384 and at most 33554432 pixels in all; the\n"
    "                     camera keeps its place and its vertical field of view\n"
    "  --samples N        N x N rays per pixel, averaged (default: 1), N from 1\n"
    "                     to 16, at most 4294967296 rays in all\n"
    "  --help             show this text and exit\n"
    "\n"
    "When standard error is a terminal, a render that takes more than a\n"
    "second shows how far it has come and about how long it has left there.\n"
    "\n"
    "The picture is written under a temporary name next to FILE.png and\n"
    "renamed over it once complete, so a failed run keeps any older picture;\n"
    "FILE.png may not be the mesh itself.\n"
    "\n"
    "Exit status: 0 on success, 1 when the mesh, the PNG file or standard\n"
    "output fails (or memory runs out), 2 on bad arguments.\n";

// Bounds on what a picture may cost: its side, its pixels (a float picture
// of 400 MB and its 8-bit copy) and its primary rays (a few minutes of the
// bunny on two cores).
constexpr long long max_side = 16384;
constexpr long long max_pixels = 1LL << 25;
constexpr long long max_samples = 16;
constexpr long long max_rays = 1LL << 32;

struct options {
    mesh_options scene;
    std::string output = "raytracer.png";
    int samples = 1;
};

int bad_arguments(const std::string& why) {
    report_failure("raytracer-snapshot: " + why);
    std::fputs(usage, stderr);
    return 2;
}

// A decimal count from 1 to `most`, digits only; 0 when it is not one.
long long count_in(const std::string& text, long long most) {
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
    const long long n = std::stoll(text);
    return n <= most ? n : 0;
}

// What a value option makes of its value: "" when it takes it.
std::string take_size(const std::string& value, options* o) {
    const std::size_t x = value.find('x');
    const long long width = x == std::string::npos ? 0 : count_in(value.substr(0, x), max_side);
    const long long height = x == std::string::npos ? 0 : count_in(value.substr(x + 1), max_side);
    if (width == 0 || height == 0)
        return "--size " + value + ": give the width and height as WxH, each 1 to " + std::to_string(max_side);
    if (width * height > max_pixels)
        return "--size " + value + ": " + std::to_string(width * height) + " pixels, more than the " +
               std::to_string(max_pixels) + " a picture may have";
    o->scene.placement.view.width = static_cast<int>(width);
    o->scene.placement.view.height = static_cast<int>(height);
    return "";
}

std::string take_samples(const std::string& value, options* o) {
    const long long n = count_in(value, max_samples);
    if (n == 0) return "--samples " + value + ": give N from 1 to " + std::to_string(max_samples);
    o->samples = static_cast<int>(n);
    return "";
}

// Returns -1 to go on, or the exit status.
int parse_arguments(int argc, char** argv, options* o) {
    std::vector<std::string> flags = mesh_flags;
    flags.insert(flags.end(), {"--help", "-h"});
    std::vector<std::string> valued = mesh_valued;
    valued.insert(valued.end(), {"--output", "--size", "--samples"});
    for (int i = 1; i < argc; ++i) {
        argument a;
        std::string why = read_argument(argc, argv, &i, flags, valued, &a);
        if (why.empty() && (a.name == "--help" || a.name == "-h")) {
            std::printf("%s%s", usage, help);
            return 0;
        }
        if (why.empty() && !take_mesh_option(a, &o->scene, &why)) {
            if (a.name == "--output") o->output = a.value;
            if (a.name == "--size") why = take_size(a.value, o);
            if (a.name == "--samples") why = take_samples(a.value, o);
        }
        if (!why.empty()) return bad_arguments(why);
    }
    const camera_view& view = o->scene.placement.view;
    const long long rays = static_cast<long long>(view.width) * view.height * o->samples * o->samples;
    if (rays > max_rays)
        return bad_arguments("--samples " + std::to_string(o->samples) + " at " + std::to_string(view.width) + "x" +
                             std::to_string(view.height) + ": " + std::to_string(rays) + " rays, more than the " +
                             std::to_string(max_rays) + " a picture may take");
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* const program = "raytracer-snapshot";
    start_output();
    options o;
    const int status = parse_arguments(argc, argv, &o);
    if (status >= 0) return finish_output(program, status);
    if (same_file(o.scene.mesh.c_str(), o.output.c_str()))
        return finish_output(program, bad_arguments("--output '" + o.output + "' is the mesh itself"));

    const one_thread_under_memory_limit one_thread;
    current_scene = new (std::nothrow) scene;
    if (!current_scene) {
        report_failure("raytracer-snapshot: out of memory building the scene");
        return finish_output(program, 1);
    }
    std::string error;
    // The hierarchy is built for the one picture about to be rendered.
    const long long primary_rays = static_cast<long long>(o.scene.placement.view.width) * o.scene.placement.view.height * o.samples * o.samples;
    if (!build_scene(o.scene.mesh.c_str(), o.scene.placement, &error, primary_rays)) {
        report_failure(error);
        return finish_output(program, 1);
    }

    // The picture is stored by row in a buffer of its own, at any size.
    const camera cam = setup_camera(o.scene.placement.view);
    rgb_picture pic;
    pic.width = cam.width;
    pic.height = cam.height;
    progress_line line(isatty(STDERR_FILENO) ? stderr : nullptr);
    const auto start = std::chrono::steady_clock::now();
    try {
        pic.pixels.resize(static_cast<std::size_t>(pic.width) * static_cast<std::size_t>(pic.height) * 3);
        timed_render([&] {
            render(cam, o.samples, picture_by_rows(pic.pixels.data(), cam), [&](const render_progress& p) {
                line.update(p, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            });
        });
    } catch (const std::bad_alloc&) {
        report_failure("raytracer-snapshot: out of memory while rendering");
        return finish_output(program, 1);
    }
    flush_output();

    const std::string why = write_png(o.output.c_str(), pic);
    if (!why.empty()) report_failure("cannot write " + o.output + ": " + why);

    destroy_scene(current_scene);
    delete current_scene;
    current_scene = nullptr;
    return finish_output(program, why.empty() ? 0 : 1);
}
