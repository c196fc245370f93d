#include "bench/timings.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/image.h"
#include "mesh/obj/load_obj.h"
#include "render/camera.h"
#include "render/render.h"
#include "bvh/bvh.h"
#include "scene/model.h"
#include "scene/scene.h"
#include "util/worker.h"
#include "tests/support/triangle_soup.h"
#include "world/build_scene.h"

workload_facts facts;

namespace {

using steady = std::chrono::steady_clock;

double seconds_since(steady::time_point start) {
    return std::chrono::duration<double>(steady::now() - start).count();
}

const std::string assets = std::string(RT_SOURCE_DIR) + "/assets";
const std::string bunny_path = assets + "/bunny.obj";

constexpr int linear_row_step = 20;

// The built-in scene over the default bunny, built once for all timings.
scene world;
model* bunny = nullptr;
camera cam;

// One query the tracer put to the model: the ray and the distance it came with.
struct query {
    ray r;
    float distance;
};
std::vector<query> render_queries;

// Stands in for the model to see what the tracer asks it.
class recorder : public object {
public:
    model& m;
    explicit recorder(model& wrapped) : m(wrapped) { copy_material(wrapped, *this); }
    int get_type() const override { return 0; }
    int intersect(const ray& r, float& distance) override {
        render_queries.push_back({r, distance});
        return m.intersect(r, distance);
    }
    vector3 get_normal(const vector3& point) const override { return m.get_normal(point); }

    static void copy_material(const object& from, object& to) {
        to.color = from.color;
        to.specular = from.specular;
        to.reflection = from.reflection;
        to.specular_power = from.specular_power;
        to.refraction_index = from.refraction_index;
    }
};

// The model as it was before the hierarchy: the gate, then every triangle.
class linear_stand_in : public object {
public:
    model& m;
    linear_reference scan;
    int last[util::max_workers] = {};
    explicit linear_stand_in(model& wrapped) : m(wrapped), scan(*wrapped.geometry) {
        recorder::copy_material(wrapped, *this);
    }
    int get_type() const override { return 0; }
    int intersect(const ray& r, float& distance) override {
        if (!m.may_hit(r, distance)) return hit_none;
        int hit = -1;
        const int code = scan.intersect(r, distance, hit);
        if (code != hit_none) last[util::current_worker] = hit;
        return code;
    }
    vector3 get_normal(const vector3&) const override {
        return scan.triangles[static_cast<std::size_t>(last[util::current_worker])]->normal;
    }
};

// One render of the picture, in seconds.
double timed_render(int threads, ray_grouping grouping) {
    const steady::time_point start = steady::now();
    render_picture(&world, cam, 1, threads, picture_by_columns(image, cam), {}, grouping);
    return seconds_since(start);
}

void render_with_bvh(benchmark::State& state) {
    for (auto _ : state) {
        const double single_one = timed_render(1, ray_grouping::single);
        const double packets_one = timed_render(1, ray_grouping::packets);
        const double single_all = timed_render(0, ray_grouping::single);
        const double packets_all = timed_render(0, ray_grouping::packets);
        state.counters["single_one_thread"] = single_one;
        state.counters["single_all_threads"] = single_all;
        state.counters["one_thread"] = packets_one;
        state.counters["all_threads"] = packets_all;
        state.SetIterationTime(single_one + packets_one + single_all + packets_all);
    }
}

void render_with_linear_scan(benchmark::State& state) {
    linear_stand_in stand_in(*bunny);
    world.objects[0] = &stand_in;
    for (auto _ : state) {
        const steady::time_point start = steady::now();
        static float row_buffer[image_width * 3];
        row_workspace space(image_width);
        for (int y = 0; y < image_height; y += linear_row_step)
            render_row(&world, cam, 1, y, 0, image_width, space, row_buffer);
        state.SetIterationTime(seconds_since(start) * linear_row_step);
    }
    world.objects[0] = bunny;
}

void model_intersect(benchmark::State& state) {
    for (auto _ : state) {
        long hits = 0;
        for (const query& q : render_queries) {
            float distance = q.distance;
            hits += bunny->intersect(q.r, distance) != hit_none;
        }
        benchmark::DoNotOptimize(hits);
    }
}

void bvh_build(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    for (auto _ : state) {
        bvh tree;
        const steady::time_point start = steady::now();
        build_bvh(tree, *bunny->geometry, threads, bvh_method::surface_area);
        state.SetIterationTime(seconds_since(start));
        benchmark::DoNotOptimize(tree.nodes.data());
    }
}

void mesh_load(benchmark::State& state) {
    for (auto _ : state) {
        mesh m;
        std::string error;
        const steady::time_point start = steady::now();
        std::FILE* stream = std::fopen(bunny_path.c_str(), "r");
        const bool loaded = stream != nullptr && load_obj(stream, &m, "bunny.obj", &error);
        state.SetIterationTime(seconds_since(start));
        if (!loaded) {
            state.SkipWithError(("cannot load " + bunny_path + " " + error).c_str());
            break;
        }
        release_mesh(&m);
    }
}

// Starts the real program in the assets directory on a pseudo-terminal
// (so that its output is line-buffered, as on a console) and returns the
// seconds until its elapsed-time line arrives, or -1. The program is then
// stopped: after that line it only opens its window.
double run_program_to_elapsed_line() {
    int terminal = -1;
    const steady::time_point start = steady::now();
    const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child < 0) return -1.0;
    if (child == 0) {
        if (chdir(assets.c_str()) != 0) _exit(127);
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        execl(RT_PROGRAM, RT_PROGRAM, static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string seen;
    double elapsed = -1.0;
    char buffer[4096];
    for (;;) {
        pollfd p{terminal, POLLIN, 0};
        if (poll(&p, 1, 120000) <= 0) break;
        const ssize_t n = read(terminal, buffer, sizeof buffer);
        if (n <= 0) break;
        seen.append(buffer, static_cast<std::size_t>(n));
        const std::size_t line = seen.find("completed in ");
        if (line != std::string::npos && seen.find('\n', line) != std::string::npos) {
            elapsed = seconds_since(start);
            break;
        }
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(terminal);
    return elapsed;
}

// Runs raytracer-snapshot on the default bunny to its exit and returns the
// seconds from its start, or -1 if it failed.
double run_snapshot_to_picture() {
    static const std::string picture = std::string(RT_SNAPSHOT) + "-bench.png";
    const steady::time_point start = steady::now();
    const pid_t child = fork();
    if (child < 0) return -1.0;
    if (child == 0) {
        const int null_device = open("/dev/null", O_WRONLY);
        if (null_device >= 0) dup2(null_device, STDOUT_FILENO);
        execl(RT_SNAPSHOT, RT_SNAPSHOT, "--mesh", bunny_path.c_str(), "--output", picture.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    const double seconds = seconds_since(start);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1.0;
}

void whole_snapshot(benchmark::State& state) {
    for (auto _ : state) {
        const double seconds = run_snapshot_to_picture();
        if (seconds < 0.0) {
            state.SkipWithError("raytracer-snapshot failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
}

void whole_program(benchmark::State& state) {
    for (auto _ : state) {
        const double seconds = run_program_to_elapsed_line();
        if (seconds < 0.0) {
            state.SkipWithError("the program did not print its elapsed-time line");
            break;
        }
        state.SetIterationTime(seconds);
    }
}

// Repetitions per figure; RT_BENCH_QUICK=1 runs each just twice.
int repetitions(int normal) { return std::getenv("RT_BENCH_QUICK") ? 2 : normal; }

}  // namespace

void register_timings() {
    current_scene = &world;
    build_scene(bunny_path.c_str());
    current_scene = nullptr;
    bunny = static_cast<model*>(world.objects[0]);
    // The render figures are of the heuristic's tree, whichever the program
    // would build for one picture. The model's bounding sphere holds every
    // triangle's reach box, so it stays right for any tree over the mesh.
    build_bvh(bunny->hierarchy, *bunny->geometry, 0, bvh_method::surface_area);
    cam = setup_camera();

    recorder rec(*bunny);
    world.objects[0] = &rec;
    render_picture(&world, cam, 1, 1, picture_by_columns(image, cam));
    world.objects[0] = bunny;

    facts.render_queries = static_cast<long>(render_queries.size());
    facts.triangles = bunny->triangle_count;
    facts.linear_row_step = linear_row_step;
    facts.hardware_threads = static_cast<int>(std::thread::hardware_concurrency());

    using benchmark::RegisterBenchmark;
    RegisterBenchmark(bench_render_pairs, render_with_bvh)->Iterations(1)->Repetitions(repetitions(15))
        ->UseManualTime()->Unit(benchmark::kMillisecond);
    RegisterBenchmark(bench_model_intersect, model_intersect)->Iterations(1)->Repetitions(repetitions(15))
        ->UseRealTime()->Unit(benchmark::kMillisecond);
    RegisterBenchmark(bench_build_all, bvh_build)->Arg(0)->Iterations(1)->Repetitions(repetitions(15))
        ->UseManualTime()->Unit(benchmark::kMillisecond);
    RegisterBenchmark(bench_build_one, bvh_build)->Arg(1)->Iterations(1)->Repetitions(repetitions(15))
        ->UseManualTime()->Unit(benchmark::kMillisecond);
    RegisterBenchmark(bench_mesh_load, mesh_load)->Iterations(1)->Repetitions(repetitions(15))
        ->UseManualTime()->Unit(benchmark::kMillisecond);
    RegisterBenchmark(bench_program, whole_program)->Iterations(1)->Repetitions(repetitions(9))
        ->UseManualTime()->Unit(benchmark::kMillisecond);
    RegisterBenchmark(bench_snapshot, whole_snapshot)->Iterations(1)->Repetitions(repetitions(9))
        ->UseManualTime()->Unit(benchmark::kMillisecond);
    RegisterBenchmark(bench_render_linear, render_with_linear_scan)->Iterations(1)->Repetitions(repetitions(3))
        ->UseManualTime()->Unit(benchmark::kMillisecond);
}
