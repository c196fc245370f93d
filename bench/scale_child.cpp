#include "bench/scale_child.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/image.h"
#include "mesh/obj/load_obj.h"
#include "render/camera.h"
#include "render/render.h"
#include "scene/scene.h"
#include "world/build_scene.h"

namespace {

using steady = std::chrono::steady_clock;

double seconds_since(steady::time_point start) { return std::chrono::duration<double>(steady::now() - start).count(); }

std::FILE* report = nullptr;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(report, "error %s\n", what.c_str());
    std::fflush(report);
    std::_Exit(1);
}

}  // namespace

bool parse_child_arguments(int argc, char** argv, int first, const char** path, int* renders, double* budget) {
    if (argc != first + 3) return false;
    char* end = nullptr;
    *path = argv[first];
    *renders = static_cast<int>(std::strtol(argv[first + 1], &end, 10));
    if (*end != '\0' || *renders < 1) return false;
    *budget = std::strtod(argv[first + 2], &end);
    return *end == '\0' && *budget >= 0.0;
}

void run_scale_child(const char* path, int renders, double render_budget, build_function build) {
    // The report keeps the real standard output; the library's own lines
    // (scene building, the loader's progress) go nowhere.
    std::fflush(stdout);
    report = fdopen(dup(STDOUT_FILENO), "w");
    if (!report) std::_Exit(1);
    std::setvbuf(report, nullptr, _IOLBF, 0);
    const int null_device = open("/dev/null", O_WRONLY);
    if (null_device >= 0) dup2(null_device, STDOUT_FILENO);

    // The built-in scene, its light, floor and materials, around an empty
    // mesh whose place the measured object then takes.
    static scene world;
    current_scene = &world;
    build_scene("/dev/null");
    current_scene = nullptr;
    const camera cam = setup_camera();

    struct stat info;
    if (stat(path, &info) != 0) fail(std::string("cannot open ") + path + ": " + std::strerror(errno));

    mesh* loaded = new mesh;
    std::string error;
    const steady::time_point start = steady::now();
    std::FILE* stream = std::fopen(path, "r");
    if (!stream) fail(std::string("cannot open ") + path + ": " + std::strerror(errno));
    if (!load_obj(stream, loaded, path, &error)) fail(error);
    const double load_seconds = seconds_since(start);
    std::fprintf(report, "mesh %d %d %lld\n", loaded->face_count, loaded->vertex_count,
                 static_cast<long long>(info.st_size));
    std::fprintf(report, "load %.9f\n", load_seconds);

    double build_seconds = 0.0;
    object* traced = build(loaded, &build_seconds, &error);
    if (!traced) fail(error);
    std::fprintf(report, "build %.9f\n", build_seconds);

    object* placeholder = world.objects[0];
    traced->color = placeholder->color;
    traced->specular = placeholder->specular;
    traced->reflection = placeholder->reflection;
    traced->specular_power = placeholder->specular_power;
    traced->refraction_index = placeholder->refraction_index;
    world.objects[0] = traced;
    delete placeholder;

    double rendering = 0.0;
    for (int k = 0; k < renders && (k == 0 || rendering < render_budget); ++k) {
        const steady::time_point render_start = steady::now();
        render_picture(&world, cam, 0, false, image);
        const steady::time_point end = steady::now();
        const double seconds = std::chrono::duration<double>(end - render_start).count();
        rendering += seconds;
        std::fprintf(report, "render %.9f %lld\n", seconds,
                     static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(end.time_since_epoch()).count()));
    }
    std::fflush(report);
    std::_Exit(0);
}
