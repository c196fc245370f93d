#include "bench/scale_child.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/image.h"
#include "mesh/load_mesh.h"
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

std::string render_kind::name() const {
    return std::string(grouping == ray_grouping::packets ? "packets" : "single") + ":" + std::to_string(threads);
}

namespace {

bool parse_kinds(const std::string& list, std::vector<render_kind>* kinds) {
    kinds->clear();
    std::size_t at = 0;
    while (at <= list.size()) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        const std::string item = list.substr(at, comma - at);
        const std::size_t colon = item.find(':');
        if (colon == std::string::npos) return false;
        render_kind k;
        const std::string grouping = item.substr(0, colon);
        if (grouping == "packets")
            k.grouping = ray_grouping::packets;
        else if (grouping == "single")
            k.grouping = ray_grouping::single;
        else
            return false;
        char* end = nullptr;
        const std::string threads = item.substr(colon + 1);
        k.threads = static_cast<int>(std::strtol(threads.c_str(), &end, 10));
        if (threads.empty() || *end != '\0' || k.threads < 0) return false;
        kinds->push_back(k);
        at = comma + 1;
    }
    return !kinds->empty();
}

}  // namespace

bool parse_child_arguments(int argc, char** argv, int first, child_arguments* out) {
    if (argc < first + 3) return false;
    char* end = nullptr;
    out->path = argv[first];
    out->rounds = static_cast<int>(std::strtol(argv[first + 1], &end, 10));
    if (*end != '\0' || out->rounds < 1) return false;
    out->budget = std::strtod(argv[first + 2], &end);
    if (*end != '\0' || !(out->budget >= 0.0)) return false;
    for (int i = first + 3; i < argc; i += 2) {
        if (i + 1 >= argc) return false;
        const std::string option = argv[i];
        if (option == "--renders") {
            if (!parse_kinds(argv[i + 1], &out->kinds)) return false;
        } else if (option == "--variant") {
            out->variant = argv[i + 1];
        } else {
            return false;
        }
    }
    return true;
}

namespace {

// The report keeps the real standard output; the library's own lines
// (scene building, the loader's progress) go nowhere.
void open_report() {
    std::fflush(stdout);
    report = fdopen(dup(STDOUT_FILENO), "w");
    if (!report) std::_Exit(1);
    std::setvbuf(report, nullptr, _IOLBF, 0);
    const int null_device = open("/dev/null", O_WRONLY);
    if (null_device >= 0) dup2(null_device, STDOUT_FILENO);
}

// Loads the mesh at `path` and reports it; returns it.
mesh* load_and_report(const char* path) {
    struct stat info;
    if (stat(path, &info) != 0) fail(std::string("cannot open ") + path + ": " + std::strerror(errno));
    mesh* loaded = new mesh;
    std::string error;
    const steady::time_point start = steady::now();
    if (!load_mesh_file(path, loaded, &error)) fail(error);
    const double load_seconds = seconds_since(start);
    std::fprintf(report, "mesh %d %d %lld\n", loaded->face_count, loaded->vertex_count,
                 static_cast<long long>(info.st_size));
    std::fprintf(report, "load %.9f\n", load_seconds);
    return loaded;
}

}  // namespace

void run_load_child(const char* path) {
    open_report();
    load_and_report(path);
    std::fflush(report);
    std::_Exit(0);
}

void run_scale_child(const child_arguments& a, build_function build) {
    open_report();

    // The built-in scene, its light, floor and materials, around an empty
    // mesh whose place the measured object then takes.
    static scene world;
    current_scene = &world;
    build_scene("/dev/null");
    current_scene = nullptr;
    const camera cam = setup_camera();

    mesh* loaded = load_and_report(a.path);
    std::string error;
    double build_seconds = 0.0;
    object* traced = build(loaded, a.variant, &build_seconds, &error);
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
    for (int round = 0; round < a.rounds && (round == 0 || rendering < a.budget); ++round) {
        for (const render_kind& kind : a.kinds) {
            const steady::time_point render_start = steady::now();
            render_picture(&world, cam, 1, kind.threads, picture_by_columns(image, cam), {}, kind.grouping);
            const steady::time_point end = steady::now();
            const double seconds = std::chrono::duration<double>(end - render_start).count();
            rendering += seconds;
            std::fprintf(report, "render %s %.9f %lld\n", kind.name().c_str(), seconds,
                         static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(end.time_since_epoch()).count()));
        }
    }
    std::fflush(report);
    std::_Exit(0);
}
