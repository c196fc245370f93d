// raytracer-scale: the scale table of scripts/bench. For each mesh (the
// bunny, the bunny subdivided 1 to 4 times, a CAD cylinder, a print bed, the
// bunny with a far outlier, the bunny flattened onto a line) it starts runs
// of its own (scale_child.h), each a fresh process doing load, build and
// renders, and prints one Markdown table: load, build, render, start to
// rendered and peak bytes a triangle, ours beside Embree's where Embree is
// there, with the ratios. Peak memory is the child's whole-process maximum
// resident set, from wait4; this driver stays small so as not to raise it.
//   raytracer-scale --meshes DIR [--bunny PATH] [--quick] [KEY ...]
// KEYs pick rows (bunny sub1 .. sub4 cylinder platform far10km far1000km flat),
// and "load" the load table: the 17.8 M-triangle bunny as OBJ, binary PLY
// of both byte orders and binary STL, only loaded, in fresh processes.
// A run's renders are stopped after 60 s (RT_BENCH_QUICK: 30 s; RT_BENCH_TIMEOUT=S
// sets it).
// Internal: raytracer-scale --child MESH RENDERS BUDGET, one run of our own;
// raytracer-scale --load-child MESH, one load.

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/scale_child.h"
#include "scene/model.h"

namespace {

using steady = std::chrono::steady_clock;

double seconds_since(steady::time_point start) { return std::chrono::duration<double>(steady::now() - start).count(); }

long long now_ns() {
    return static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(steady::now().time_since_epoch()).count());
}

std::string format(const char* pattern, double a) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, a);
    return text;
}

// --- our side of a run ---------------------------------------------------------

object* build_ours(mesh* loaded, const std::string& variant, double* seconds, std::string* error) {
    bvh_method method = bvh_method::automatic;
    if (variant == "sah")
        method = bvh_method::surface_area;
    else if (variant == "morton")
        method = bvh_method::morton;
    else if (!variant.empty() && variant != "auto") {
        *error = "unknown build variant " + variant + " (auto, sah or morton)";
        return nullptr;
    }
    const steady::time_point start = steady::now();
    model* m = new model(owned_mesh(loaded), method);
    *seconds = seconds_since(start);
    return m;
}

// --- runs --------------------------------------------------------------------

// How many runs and renders, and how long one run may take before it is
// stopped (the pathological meshes can take many minutes per picture).
struct policy {
    int min_runs;          // unless a render takes longer than slow_render
    int max_runs;
    double side_budget;    // no new run once a side has taken this long
    int renders;           // per run
    double render_budget;  // per run: no new render after this long
    double timeout;        // per run, from the end of its build: renders only
};

// Load and build are never stopped, short of this: they are the figures
// the big meshes are there for.
constexpr double run_limit = 900.0;

// One picture of this many seconds is far enough off to say so without a
// second sample.
constexpr double slow_render = 10.0;

constexpr policy full_policy{2, 5, 20.0, 3, 4.0, 60.0};
constexpr policy quick_policy{1, 2, 3.0, 2, 2.0, 30.0};

// What the runs of one side (ours or Embree's) of one row found.
struct side {
    std::vector<double> load, build, render, to_rendered;
    std::vector<double> peak_bytes;
    long long triangles = -1, vertices = -1, file_bytes = -1;
    std::string stopped;        // the step a run was stopped in: "load", "build" or "render"
    double stopped_after = 0.0;  // how long that step had run by then
    std::string error;
    int runs = 0;
};

// Starts `argv` with its standard output on a pipe, reads its report lines
// into `s`, stops it after `timeout` seconds, and records its peak memory.
void run_once(const std::vector<std::string>& argv, double timeout, side& s) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) {
        s.error = "pipe failed";
        return;
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    std::fflush(nullptr);
    const long long spawned = now_ns();
    const steady::time_point start = steady::now();
    const pid_t child = fork();
    if (child < 0) {
        s.error = "fork failed";
        return;
    }
    if (child == 0) {
        dup2(pipe_fds[1], STDOUT_FILENO);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        execv(args[0], args.data());
        _exit(127);
    }
    close(pipe_fds[1]);

    std::string pending;
    const char* step = "load";
    steady::time_point step_start = start;
    bool timed_out = false;
    bool first_render = true;
    char buffer[4096];
    steady::time_point deadline = start + std::chrono::duration_cast<steady::duration>(std::chrono::duration<double>(run_limit));
    for (;;) {
        const double left = std::chrono::duration<double>(deadline - steady::now()).count();
        if (left <= 0.0) {
            timed_out = true;
            break;
        }
        pollfd p{pipe_fds[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::ceil(left * 1000.0))) <= 0) continue;
        const ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t line_end;
        while ((line_end = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, line_end);
            pending.erase(0, line_end + 1);
            step_start = steady::now();
            long long a = 0, b = 0, c = 0;
            double seconds = 0.0;
            if (std::sscanf(line.c_str(), "mesh %lld %lld %lld", &a, &b, &c) == 3) {
                s.triangles = a, s.vertices = b, s.file_bytes = c;
            } else if (std::sscanf(line.c_str(), "load %lf", &seconds) == 1) {
                s.load.push_back(seconds);
                step = "build";
            } else if (std::sscanf(line.c_str(), "build %lf", &seconds) == 1) {
                s.build.push_back(seconds);
                step = "render";
                deadline = step_start + std::chrono::duration_cast<steady::duration>(std::chrono::duration<double>(timeout));
            } else if (std::sscanf(line.c_str(), "render %*s %lf %lld", &seconds, &a) == 2) {
                s.render.push_back(seconds);
                if (first_render) s.to_rendered.push_back(static_cast<double>(a - spawned) * 1e-9);
                first_render = false;
            } else if (line.rfind("error ", 0) == 0) {
                s.error = line.substr(6);
            }
        }
    }
    const steady::time_point stopped_at = steady::now();
    if (timed_out) kill(child, SIGKILL);
    close(pipe_fds[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    ++s.runs;
    // ru_maxrss is in KiB on Linux.
    if (s.triangles >= 0) s.peak_bytes.push_back(static_cast<double>(usage.ru_maxrss) * 1024.0);
    if (timed_out) {
        s.stopped = step;
        s.stopped_after = std::chrono::duration<double>(stopped_at - step_start).count();
    } else if (s.error.empty() && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
        s.error = "run ended with status " + std::to_string(status);
    }
}

side run_side(const std::vector<std::string>& argv_head, const std::string& path, const policy& p, const char* who,
              const std::string& label) {
    side s;
    const steady::time_point start = steady::now();
    auto another = [&] {
        if (s.runs == 0) return true;
        if (s.runs >= p.max_runs || !s.stopped.empty() || !s.error.empty() || s.render.empty()) return false;
        if (seconds_since(start) < p.side_budget) return true;
        return s.runs < p.min_runs && *std::max_element(s.render.begin(), s.render.end()) < slow_render;
    };
    while (another()) {
        std::vector<std::string> argv = argv_head;
        argv.insert(argv.end(), {path, std::to_string(p.renders), std::to_string(p.render_budget)});
        run_once(argv, p.timeout, s);
        std::fprintf(stderr, "  %-34s %-6s run %d: load %s, build %s, render %s, peak %.0f MB%s%s\n", label.c_str(), who,
                     s.runs, s.load.empty() ? "-" : std::to_string(s.load.back()).c_str(),
                     s.build.empty() ? "-" : std::to_string(s.build.back()).c_str(),
                     s.render.empty() ? "-" : std::to_string(s.render.back()).c_str(),
                     s.peak_bytes.empty() ? 0.0 : s.peak_bytes.back() / 1e6,
                     s.stopped.empty() ? "" : (", stopped in " + s.stopped + format(" after %.0f s", s.stopped_after)).c_str(),
                     s.error.empty() ? "" : (", " + s.error).c_str());
    }
    return s;
}

// --- the table -------------------------------------------------------------------

struct summary {
    double min = 0.0, median = 0.0;
    bool present = false;
};

summary summarise(std::vector<double> v) {
    summary s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    s.min = v.front();
    s.median = n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
    s.present = true;
    return s;
}

// Seconds as ms below one second, else s; both values in the unit of the min.
std::string time_cell(const summary& s) {
    if (!s.present) return "";
    if (s.min < 1.0) return format("%.1f", s.min * 1e3) + " / " + format("%.1f ms", s.median * 1e3);
    return format("%.2f", s.min) + " / " + format("%.2f s", s.median);
}

std::string ratio_cell(const summary& ours, const summary& theirs) {
    if (!ours.present || !theirs.present) return "";
    return format("%.2fx", ours.min / theirs.min) + " / " + format("%.2fx", ours.median / theirs.median);
}

// A step that never finished: "> N s (stopped)".
std::string stopped_cell(const side& s, const char* step) {
    if (s.stopped == step) return format("> %.0f s (stopped)", s.stopped_after);
    if (!s.error.empty()) return "failed";
    return "";
}

std::string render_ratio_cell(const summary& ours, const summary& theirs, const side& o) {
    if (ours.present) return ratio_cell(ours, theirs);
    if (theirs.present && o.stopped == "render") return format("> %.0fx", o.stopped_after / theirs.median);
    return "";
}

std::string with_stop(const summary& value, const side& s, const char* step) {
    if (value.present) return time_cell(value);
    return stopped_cell(s, step);
}

std::string thousands(long long n) {
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string peak_cell(const side& s) {
    if (s.peak_bytes.empty() || s.triangles <= 0) return "";
    const double highest = *std::max_element(s.peak_bytes.begin(), s.peak_bytes.end());
    return format("%.0f", highest / static_cast<double>(s.triangles)) + " (" + format("%.2f GB)", highest / 1e9);
}

struct mesh_row {
    const char* key;
    const char* label;
    const char* file;  // in the meshes folder; null: the bunny itself
};

const mesh_row rows[] = {
    {"bunny", "bunny", nullptr},
    {"sub1", "bunny, subdivided 1x", "bunny-sub1.obj"},
    {"sub2", "bunny, subdivided 2x", "bunny-sub2.obj"},
    {"sub3", "bunny, subdivided 3x", "bunny-sub3.obj"},
    {"sub4", "bunny, subdivided 4x", "bunny-sub4.obj"},
    {"cylinder", "CAD cylinder, fanned n-gon caps", "cylinder.obj"},
    {"platform", "print bed, STL slivers", "platform.obj"},
    {"far10km", "bunny + 1 m triangle 10 km away", "bunny-far-10km.obj"},
    {"far1000km", "bunny + 1 m triangle 1000 km away", "bunny-far-1000km.obj"},
    {"flat", "bunny flattened onto a line", "bunny-flat.obj"},
};

// The load table's rows: one mesh in the formats the loader reads fastest.
const mesh_row load_rows[] = {
    {"load", "OBJ", "bunny-sub4.obj"},
    {"load", "PLY, binary little endian", "bunny-sub4.ply"},
    {"load", "PLY, binary big endian", "bunny-sub4-be.ply"},
    {"load", "STL, binary", "bunny-sub4.stl"},
};

// Loads of each file in fresh processes: min and median seconds, MB/s
// from the min, peak bytes a triangle.
void print_load_table(const std::string& meshes, const std::string& self, bool quick) {
    std::printf("\n| Bunny subdivided 4x, load only | File | Load | MB/s | Peak B/tri (total) |\n|---|---|---|---|---|\n");
    for (const mesh_row& row : load_rows) {
        const std::string path = meshes + "/" + row.file;
        struct stat info;
        if (stat(path.c_str(), &info) != 0) {
            std::printf("| %s | not generated |  |  |  |\n", row.label);
            continue;
        }
        side s;
        for (int run = 0; run < (quick ? 2 : 5) && s.error.empty(); ++run) run_once({self, "--load-child", path}, run_limit, s);
        const summary load = summarise(s.load);
        std::printf("| %s | %s, %.0f MB | %s | %s | %s |\n", row.label, row.file, static_cast<double>(info.st_size) / 1e6,
                    s.error.empty() ? time_cell(load).c_str() : ("failed: " + s.error).c_str(),
                    load.present ? format("%.0f", static_cast<double>(info.st_size) / 1e6 / load.min).c_str() : "",
                    peak_cell(s).c_str());
    }
    std::printf("\nEach run is a fresh process that loads the file once as the program does (open, read, parse; a\n"
                "regular PLY or STL file is mapped), its page cache warm; %d runs a row. MB/s: the file's size over\n"
                "the fastest load.\n",
                quick ? 2 : 5);
}

struct row_result {
    const mesh_row* mesh;
    bool present = false;
    side ours, embree;
};

std::string self_path() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    path[n] = '\0';
    return path;
}

#ifdef RT_SCALE_EMBREE
constexpr bool have_embree = true;
#else
constexpr bool have_embree = false;
#define RT_SCALE_EMBREE ""
#endif

int usage() {
    std::fprintf(stderr, "usage: raytracer-scale --meshes DIR [--bunny PATH] [--quick] [KEY ...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--child") == 0) {
        child_arguments a;
        if (!parse_child_arguments(argc, argv, 2, &a)) return usage();
        run_scale_child(a, build_ours);
    }
    if (argc == 3 && std::strcmp(argv[1], "--load-child") == 0) run_load_child(argv[2]);

    std::string meshes, bunny = std::string(RT_SOURCE_DIR) + "/assets/bunny.obj";
    bool quick = std::getenv("RT_BENCH_QUICK") != nullptr;
    std::vector<std::string> keys;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--meshes" && i + 1 < argc) meshes = argv[++i];
        else if (a == "--bunny" && i + 1 < argc) bunny = argv[++i];
        else if (a == "--quick") quick = true;
        else if (a.rfind("--", 0) == 0) return usage();
        else keys.push_back(a);
    }
    if (meshes.empty()) return usage();
    policy p = quick ? quick_policy : full_policy;
    // A longer limit shows how far off the pathological meshes really are.
    if (const char* limit = std::getenv("RT_BENCH_TIMEOUT")) p.timeout = std::max(1.0, std::atof(limit));
    const std::vector<std::string> ours_head{self_path(), "--child"};
    const std::vector<std::string> embree_head{RT_SCALE_EMBREE};

    // What a run costs with no mesh at all: libraries, threads, the picture.
    std::fprintf(stderr, "scale table: runs with an empty mesh first, for the fixed cost of a process\n");
    const side base_ours = run_side(ours_head, "/dev/null", p, "ours", "empty mesh");
    side base_embree;
    if (have_embree) base_embree = run_side(embree_head, "/dev/null", p, "Embree", "empty mesh");

    std::vector<row_result> results;
    for (const mesh_row& entry : rows) {
        if (!keys.empty() && std::find(keys.begin(), keys.end(), entry.key) == keys.end()) continue;
        row_result r;
        r.mesh = &entry;
        const std::string path = entry.file ? meshes + "/" + entry.file : bunny;
        struct stat info;
        r.present = stat(path.c_str(), &info) == 0;
        if (r.present) {
            r.ours = run_side(ours_head, path, p, "ours", entry.label);
            if (have_embree) r.embree = run_side(embree_head, path, p, "Embree", entry.label);
        }
        results.push_back(std::move(r));
    }

    const unsigned threads = std::thread::hardware_concurrency();
    std::printf("\n| Mesh | Triangles | Load | Build | Embree build | Build ratio | Render | Embree render | Render ratio | "
                "Start to rendered | Peak B/tri (total) | Embree peak B/tri (total) |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const row_result& r : results) {
        if (!r.present) {
            std::printf("| %s | not generated |  |  |  |  |  |  |  |  |  |  |\n", r.mesh->label);
            continue;
        }
        const side& o = r.ours;
        const side& e = r.embree;
        const summary load = summarise(o.load), build = summarise(o.build), render = summarise(o.render);
        const summary e_build = summarise(e.build), e_render = summarise(e.render);
        std::string load_cell = with_stop(load, o, "load");
        if (load.present && o.file_bytes > 0)
            load_cell += format(" (%.0f MB/s)", static_cast<double>(o.file_bytes) / 1e6 / load.min);
        const std::string na = have_embree ? "" : "n/a";
        std::printf("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", r.mesh->label,
                    o.triangles > 0 ? thousands(o.triangles).c_str() : "", load_cell.c_str(),
                    with_stop(build, o, "build").c_str(), have_embree ? with_stop(e_build, e, "build").c_str() : na.c_str(),
                    ratio_cell(build, e_build).c_str(), with_stop(render, o, "render").c_str(),
                    have_embree ? with_stop(e_render, e, "render").c_str() : na.c_str(),
                    render_ratio_cell(render, e_render, o).c_str(),
                    time_cell(summarise(o.to_rendered)).c_str(), peak_cell(o).c_str(),
                    have_embree ? peak_cell(e).c_str() : na.c_str());
    }

    std::printf("\nEach cell: min / median over the runs; ratios are ours over Embree's (min over min, median over\n"
                "median). Every run is a fresh process that loads the mesh once (%s), builds once (ours: model(owned_mesh),\n"
                "the triangles and the hierarchy; Embree: rtcCommitScene at MEDIUM quality on its default device),\n"
                "and renders the built-in scene with that mesh on all %u threads up to %d times. Start to rendered:\n"
                "from the process's start to the end of its first render. Peak: the highest maximum resident set of\n"
                "the runs, whole process, over the triangle count. A run still rendering %.0f s after its build is\n"
                "stopped: \"> N s (stopped)\".\n",
                "open, read, parse", threads, p.renders, p.timeout);
    if (!base_ours.peak_bytes.empty()) {
        std::printf("A run with an empty mesh peaks at %.1f MB (ours)", base_ours.peak_bytes.back() / 1e6);
        if (!base_embree.peak_bytes.empty()) std::printf(" and %.1f MB (Embree)", base_embree.peak_bytes.back() / 1e6);
        std::printf(": the fixed cost of a process, included above.\n");
    }
    if (!have_embree)
        std::printf("Embree: not installed, so no yardstick (apt-get install libembree-dev, then run scripts/bench again).\n");

    // The targets this table is for.
    if (have_embree) {
        std::printf("\n| Target | Measured (median) | |\n|---|---|---|\n");
        auto verdict = [](bool met) { return met ? "met" : "missed"; };
        for (const row_result& r : results) {
            if (!r.present) continue;
            const summary render = summarise(r.ours.render), e_render = summarise(r.embree.render);
            const std::string key = r.mesh->key;
            if (key == "sub4") {
                const summary build = summarise(r.ours.build), e_build = summarise(r.embree.build);
                const summary whole = summarise(r.ours.to_rendered);
                if (!r.ours.peak_bytes.empty() && r.ours.triangles > 0) {
                    const double bpt = *std::max_element(r.ours.peak_bytes.begin(), r.ours.peak_bytes.end()) /
                                       static_cast<double>(r.ours.triangles);
                    std::printf("| %s: peak <= 250 B/tri | %.0f B/tri | %s |\n", r.mesh->label, bpt, verdict(bpt <= 250.0));
                }
                if (build.present && e_build.present)
                    std::printf("| %s: build <= 1.5x Embree's | %.2fx | %s |\n", r.mesh->label, build.median / e_build.median,
                                verdict(build.median <= 1.5 * e_build.median));
                if (whole.present)
                    std::printf("| %s: start to rendered < 6 s | %.2f s | %s |\n", r.mesh->label, whole.median,
                                verdict(whole.median < 6.0));
            }
            const double bound = key == "bunny" ? 1.0 : 2.0;
            if (render.present && e_render.present)
                std::printf("| %s: render <= %.0fx Embree's | %.2fx | %s |\n", r.mesh->label, bound,
                            render.median / e_render.median, verdict(render.median <= bound * e_render.median));
            else if (r.ours.stopped == "render")
                std::printf("| %s: render <= %.0fx Embree's | %s | missed |\n", r.mesh->label, bound,
                            render_ratio_cell(render, e_render, r.ours).c_str());
        }
    }
    if (keys.empty() || std::find(keys.begin(), keys.end(), "load") != keys.end()) print_load_table(meshes, self_path(), quick);
    for (const row_result& r : results) {
        if (!r.ours.error.empty()) std::printf("\n%s: our run failed: %s\n", r.mesh->label, r.ours.error.c_str());
        if (!r.embree.error.empty()) std::printf("\n%s: Embree's run failed: %s\n", r.mesh->label, r.embree.error.c_str());
    }
    return 0;
}
