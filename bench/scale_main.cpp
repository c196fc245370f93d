// raytracer-scale: the scale tables of scripts/bench, every figure taken in
// fresh processes of its own (scale_child.h, scale_runs.h):
//  - the default scene's render, ours and Embree's, single rays and
//    packets, on one thread and on all;
//  - the scale table: for each mesh (the bunny, the bunny subdivided 1 to 4
//    times, a CAD cylinder, a print bed, the bunny with a far outlier, the
//    bunny flattened onto a line) load, build, render, start to rendered and
//    peak bytes a triangle, ours beside Embree's (MEDIUM and LOW quality,
//    single rays and packets) where Embree is there, with the ratios;
//  - the build methods: the subdivided bunnies built both ways;
//  - whole runs of raytracer-snapshot, start to picture written;
//  - the load table: the 17.8 M-triangle bunny as OBJ, binary PLY of both
//    byte orders and binary STL, only loaded.
// Peak memory is the child's whole-process maximum resident set, from
// wait4; this driver stays small so as not to raise it.
//   raytracer-scale --meshes DIR [--bunny PATH] [--quick] [KEY ...]
// KEYs pick what runs: rows of the scale table (bunny sub1 .. sub4 cylinder
// platform far10km far1000km flat), "compare", "methods", "picture" and
// "load"; none: everything. A run's renders are stopped after 60 s
// (RT_BENCH_QUICK: 30 s; RT_BENCH_TIMEOUT=S sets it).
// Internal: raytracer-scale --child MESH ROUNDS BUDGET [...], one run of our
// own; raytracer-scale --load-child MESH, one load.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/scale_child.h"
#include "bench/scale_runs.h"
#include "scene/model.h"

namespace {

using steady = std::chrono::steady_clock;

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
    *seconds = std::chrono::duration<double>(steady::now() - start).count();
    return m;
}

#ifdef RT_SCALE_EMBREE
constexpr bool have_embree = true;
#else
constexpr bool have_embree = false;
#define RT_SCALE_EMBREE ""
#endif

std::string self_path() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    path[n] = '\0';
    return path;
}

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// The render kinds, as the children name them.
const std::string packets_all = "packets:0", single_all = "single:0", packets_one = "packets:1", single_one = "single:1";

struct commands {
    std::string self;
    child_command ours(const std::string& kinds, const std::string& variant = "auto") const {
        return {{self, "--child"}, {"--renders", kinds, "--variant", variant}};
    }
    child_command embree(const std::string& kinds, const std::string& variant) const {
        return {{RT_SCALE_EMBREE}, {"--renders", kinds, "--variant", variant}};
    }
};

// --- the default scene, ours and Embree's ------------------------------------------

// The medians of each render kind on one thread and on all, and the
// speed-up run by run: each round renders on one thread, then on all.
void compare_row(const char* label, const side& s, const std::string& one, const std::string& all, const summary& yardstick) {
    const summary s1 = summarise(s.render(one)), sa = summarise(s.render(all));
    std::vector<double> speed_ups;
    for (std::size_t k = 0; k < s.render(one).size() && k < s.render(all).size(); ++k)
        speed_ups.push_back(s.render(one)[k] / s.render(all)[k]);
    const summary up = summarise(speed_ups);
    std::printf("| %s | %s | %s | %s | %s |\n", label, time_cell(s1).c_str(), time_cell(sa).c_str(),
                up.present ? (format("%.2fx", up.min) + " / " + format("%.2fx", up.median)).c_str() : "",
                ratio_cell(sa, yardstick).c_str());
}

void print_compare_table(const side& ours, const side& embree, unsigned threads) {
    std::printf("\n| Bunny (%s triangles): render | 1 thread | all %u threads | Speed-up, run by run | Over Embree's packets, all threads |\n",
                thousands(ours.triangles).c_str(), threads);
    std::printf("|---|---|---|---|---|\n");
    const summary yardstick = summarise(embree.render(packets_all));
    compare_row("Ours, single rays", ours, single_one, single_all, yardstick);
    compare_row("Ours, packets of 16", ours, packets_one, packets_all, yardstick);
    if (have_embree) {
        compare_row("Embree, single rays (rtcIntersect1)", embree, single_one, single_all, yardstick);
        compare_row("Embree, packets of 16 (rtcIntersect16, coherent)", embree, packets_one, packets_all, yardstick);
    }
    std::printf("\nmin / median over %d runs of a fresh process each, ours and Embree's taken in turn, each run\n"
                "rendering the picture in every kind in turn, round after round. Speed-up: one thread over all\n"
                "threads, render by render within a round (lowest, median). Packets: the rays of 4 x 4 pixels\n"
                "sixteen at a time, and their shadow and reflected rays the same way. Ours built by the surface\n"
                "area heuristic, Embree's at MEDIUM quality.\n",
                ours.runs);
}

// --- the scale table -----------------------------------------------------------------

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

struct row_result {
    const mesh_row* mesh;
    bool present = false;
    side ours, embree, embree_low;
};

// Which build our runs made (the one automatic_method picks for one picture).
std::string method_note(const side& o) {
    if (o.triangles <= 0) return "";
    return automatic_method(o.triangles) == bvh_method::morton ? ", Morton" : ", heuristic";
}

void print_scale_table(const std::vector<row_result>& results, const side& base_ours, const side& base_embree,
                       unsigned threads, const policy& p) {
    const std::string na = have_embree ? "" : "n/a";
    auto theirs = [&](const std::string& cell) { return have_embree ? cell : na; };
    std::printf("\n| Mesh | Triangles | Load | Build | Embree build, MEDIUM | Embree build, LOW | Build ratio | Render | "
                "Embree render, single rays | Embree render, packets | Embree LOW render, packets | Render ratio | "
                "Start to rendered | Peak B/tri (total) | Embree peak B/tri (total) |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const row_result& r : results) {
        if (!r.present) {
            std::printf("| %s | not generated |  |  |  |  |  |  |  |  |  |  |  |  |  |\n", r.mesh->label);
            continue;
        }
        const side& o = r.ours;
        const side& e = r.embree;
        const side& l = r.embree_low;
        const summary load = summarise(o.load), build = summarise(o.build), render = summarise(o.render(packets_all));
        const summary e_build = summarise(e.build), l_build = summarise(l.build);
        const summary e_single = summarise(e.render(single_all)), e_packets = summarise(e.render(packets_all));
        const summary l_packets = summarise(l.render(packets_all));
        std::string load_cell = with_stop(load, o, "load");
        if (load.present && o.file_bytes > 0)
            load_cell += format(" (%.0f MB/s)", static_cast<double>(o.file_bytes) / 1e6 / load.min);
        std::printf("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", r.mesh->label,
                    o.triangles > 0 ? thousands(o.triangles).c_str() : "", load_cell.c_str(),
                    (with_stop(build, o, "build") + method_note(o)).c_str(), theirs(with_stop(e_build, e, "build")).c_str(),
                    theirs(with_stop(l_build, l, "build")).c_str(), ratio_cell(build, e_build).c_str(),
                    with_stop(render, o, "render").c_str(), theirs(with_stop(e_single, e, "render")).c_str(),
                    theirs(with_stop(e_packets, e, "render")).c_str(), theirs(with_stop(l_packets, l, "render")).c_str(),
                    render_ratio_cell(render, e_packets, o).c_str(), time_cell(summarise(o.to_rendered)).c_str(),
                    peak_cell(o).c_str(), theirs(peak_cell(e)).c_str());
    }
    std::printf("\nEach cell: min / median over the runs; ratios are ours over Embree's MEDIUM (min over min, median\n"
                "over median). Every run is a fresh process that loads the mesh once (open, read, parse), builds once\n"
                "(ours: model(owned_mesh), the hierarchy by automatic_method for one picture; Embree: rtcCommitScene\n"
                "on its default device at quality MEDIUM, or LOW), and renders the built-in scene with that mesh on\n"
                "all %u threads, up to %d rounds: ours in packets (\"Render\"), Embree's in single rays and in packets.\n"
                "Start to rendered: from the process's start to the end of its first render (packets). Peak: the\n"
                "highest maximum resident set of the runs, whole process, over the triangle count. A run still\n"
                "rendering %.0f s after its build is stopped: \"> N s (stopped)\".\n",
                threads, p.rounds, p.timeout);
    if (!base_ours.peak_bytes.empty()) {
        std::printf("A run with an empty mesh peaks at %.1f MB (ours)", base_ours.peak_bytes.back() / 1e6);
        if (!base_embree.peak_bytes.empty()) std::printf(" and %.1f MB (Embree)", base_embree.peak_bytes.back() / 1e6);
        std::printf(": the fixed cost of a process, included above.\n");
    }
    if (!have_embree)
        std::printf("Embree: not installed, so no yardstick (apt-get install libembree-dev, then run scripts/bench again).\n");
}

// --- the build methods -----------------------------------------------------------------

struct method_result {
    const mesh_row* mesh;
    side surface_area, morton;
};

// Seconds as ms below one second, else s.
std::string seconds_cell(double seconds) {
    return seconds < 1.0 ? format("%.1f ms", seconds * 1e3) : format("%.2f s", seconds);
}

void method_row(const char* mesh, const char* method, const side& s) {
    const summary build = summarise(s.build), one = summarise(s.render(packets_one)), all = summarise(s.render(packets_all));
    std::vector<double> speed_ups;
    for (std::size_t k = 0; k < s.render(packets_one).size() && k < s.render(packets_all).size(); ++k)
        speed_ups.push_back(s.render(packets_one)[k] / s.render(packets_all)[k]);
    const summary up = summarise(speed_ups);
    std::printf("| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", mesh, method, time_cell(build).c_str(),
                time_cell(one).c_str(), time_cell(all).c_str(),
                up.present ? (format("%.2fx", up.min) + " / " + format("%.2fx", up.median)).c_str() : "",
                build.present && all.present ? seconds_cell(build.median + all.median).c_str() : "",
                time_cell(summarise(s.to_rendered)).c_str(), peak_cell(s).c_str());
}

void print_method_table(const std::vector<method_result>& results, unsigned threads) {
    std::printf("\n| Mesh | Build | Build time | Render, 1 thread | Render, all %u threads | Speed-up, run by run | "
                "Build + render | Start to rendered | Peak B/tri (total) |\n",
                threads);
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
    for (const method_result& r : results) {
        method_row(r.mesh->label, "surface area heuristic, packet leaves", r.surface_area);
        method_row(r.mesh->label, "Morton order, compact leaves", r.morton);
    }
    std::printf("\nEach cell: min / median over the runs, every run a fresh process built one way, its picture\n"
                "rendered in packets on one thread and on all in turn. Build + render: the medians of the build and\n"
                "of the render on all threads, what one picture costs past loading.\n");
}

// --- whole runs ---------------------------------------------------------------------

struct picture_row {
    const char* label;
    std::string path;
};

struct picture_result {
    std::vector<double> seconds;
    double peak_bytes = 0.0;
    long long triangles = -1;
};

// Whole runs of each picture in turn.
std::vector<picture_result> run_pictures(const std::vector<picture_row>& pictures, const std::string& snapshot, bool quick) {
    std::vector<picture_result> results(pictures.size());
    const std::string picture = snapshot + "-scale.png";
    for (int run = 0; run < (quick ? 2 : 5); ++run) {
        for (std::size_t k = 0; k < pictures.size(); ++k) {
            if (!exists(pictures[k].path)) continue;
            const program_run r = run_program({snapshot, "--mesh", pictures[k].path, "--output", picture});
            std::fprintf(stderr, "  snapshot, %-50s run %d: %.3f s, peak %.0f MB\n", pictures[k].label, run + 1, r.seconds,
                         r.peak_bytes / 1e6);
            if (r.seconds >= 0.0) results[k].seconds.push_back(r.seconds);
            results[k].peak_bytes = std::max(results[k].peak_bytes, r.peak_bytes);
        }
    }
    std::remove(picture.c_str());
    return results;
}

double peak_per_triangle(const picture_result& r) {
    return r.triangles > 0 ? r.peak_bytes / static_cast<double>(r.triangles) : 0.0;
}

void print_picture_table(const std::vector<picture_row>& pictures, const std::vector<picture_result>& results, bool quick) {
    std::printf("\n| Whole run, raytracer-snapshot: start to picture written | min / median | Peak B/tri (total) |\n");
    std::printf("|---|---|---|\n");
    for (std::size_t k = 0; k < pictures.size(); ++k) {
        const picture_result& r = results[k];
        if (!exists(pictures[k].path)) {
            std::printf("| %s | not generated |  |\n", pictures[k].label);
            continue;
        }
        std::printf("| %s | %s | %s |\n", pictures[k].label, r.seconds.empty() ? "failed" : time_cell(summarise(r.seconds)).c_str(),
                    r.triangles > 0 ? (format("%.0f", peak_per_triangle(r)) + " (" + format("%.2f GB)", r.peak_bytes / 1e9)).c_str()
                                    : "");
    }
    std::printf("\n%d runs each, in turn: the whole program, from its start to its exit with the 800 x 600 picture\n"
                "written (load, build, render, PNG), as a user runs it.\n",
                quick ? 2 : 5);
}

// --- the load table ---------------------------------------------------------------------

const mesh_row load_rows[] = {
    {"load", "OBJ", "bunny-sub4.obj"},
    {"load", "PLY, binary little endian", "bunny-sub4.ply"},
    {"load", "PLY, binary big endian", "bunny-sub4-be.ply"},
    {"load", "STL, binary", "bunny-sub4.stl"},
};

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

// --- the targets ----------------------------------------------------------------------

void print_targets(const side* compare_ours, const side* compare_embree, const std::vector<row_result>& results,
                   const std::vector<double>& big_picture, double big_picture_peak) {
    std::printf("\n| Target | Measured (median) | |\n|---|---|---|\n");
    auto verdict = [](bool met) { return met ? "met" : "missed"; };
    if (compare_ours && compare_embree && have_embree) {
        const summary ours = summarise(compare_ours->render(packets_all));
        const summary theirs = summarise(compare_embree->render(packets_all));
        if (ours.present && theirs.present)
            std::printf("| bunny: render in packets, all threads <= Embree's packets | %.2fx | %s |\n",
                        ours.median / theirs.median, verdict(ours.median <= theirs.median));
    }
    if (!big_picture.empty()) {
        const summary s = summarise(big_picture);
        std::printf("| bunny, subdivided 4x (OBJ): start to picture written <= 3 s | %.2f s | %s |\n", s.median,
                    verdict(s.median <= 3.0));
    }
    if (big_picture_peak > 0.0)
        std::printf("| bunny, subdivided 4x (OBJ): whole run's peak <= 64 B/tri | %.0f B/tri | %s |\n", big_picture_peak,
                    verdict(big_picture_peak <= 64.0));
    if (!have_embree) return;
    for (const row_result& r : results) {
        if (!r.present) continue;
        const summary render = summarise(r.ours.render(packets_all)), e_render = summarise(r.embree.render(packets_all));
        const std::string key = r.mesh->key;
        if (key == "bunny") continue;  // above, in its own table's conditions
        if (key == "sub4") {
            const double bpt = peak_per_triangle(r.ours);
            if (bpt > 0.0) std::printf("| %s: peak <= 64 B/tri | %.0f B/tri | %s |\n", r.mesh->label, bpt, verdict(bpt <= 64.0));
        }
        if (render.present && e_render.present)
            std::printf("| %s: render <= 2x Embree's packets | %.2fx | %s |\n", r.mesh->label, render.median / e_render.median,
                        verdict(render.median <= 2.0 * e_render.median));
        else if (r.ours.stopped == "render")
            std::printf("| %s: render <= 2x Embree's packets | %s | missed |\n", r.mesh->label,
                        render_ratio_cell(render, e_render, r.ours).c_str());
    }
}

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
    auto wanted = [&](const char* key) { return keys.empty() || std::find(keys.begin(), keys.end(), key) != keys.end(); };
    policy p = quick ? quick_policy : full_policy;
    // A longer limit shows how far off the pathological meshes really are.
    if (const char* limit = std::getenv("RT_BENCH_TIMEOUT")) p.timeout = std::max(1.0, std::atof(limit));
    const commands run{self_path()};
    const unsigned threads = std::thread::hardware_concurrency();
    const std::string both = packets_all + "," + single_all;

    // What a run costs with no mesh at all: libraries, threads, the picture.
    std::fprintf(stderr, "scale table: runs with an empty mesh first, for the fixed cost of a process\n");
    const side base_ours = run_side(run.ours(packets_all), "/dev/null", p, "empty mesh, ours");
    side base_embree;
    if (have_embree) base_embree = run_side(run.embree(packets_all, "medium"), "/dev/null", p, "empty mesh, Embree");

    // The default scene in every kind of render, ours and Embree's in turn.
    std::vector<side> compared;
    if (wanted("compare")) {
        std::fprintf(stderr, "the default scene, single rays and packets, 1 thread and all\n");
        const std::string kinds = packets_one + "," + single_one + "," + packets_all + "," + single_all;
        policy many = p;
        many.min_runs = quick ? 1 : 5;
        many.max_runs = quick ? 2 : 5;
        // Ours with the tree that renders quickest, beside Embree's default.
        std::vector<child_command> sides{run.ours(kinds, "sah")};
        std::vector<std::string> labels{"bunny, ours"};
        if (have_embree) {
            sides.push_back(run.embree(kinds, "medium"));
            labels.push_back("bunny, Embree MEDIUM");
        }
        compared = run_sides_in_turn(sides, bunny, many, labels);
    }

    std::vector<row_result> results;
    for (const mesh_row& entry : rows) {
        if (!keys.empty() && !wanted(entry.key)) continue;
        row_result r;
        r.mesh = &entry;
        const std::string path = entry.file ? meshes + "/" + entry.file : bunny;
        r.present = exists(path);
        if (r.present) {
            std::vector<child_command> sides{run.ours(both)};
            std::vector<std::string> labels{std::string(entry.label) + ", ours"};
            if (have_embree) {
                sides.push_back(run.embree(both, "medium"));
                sides.push_back(run.embree(packets_all, "low"));
                labels.push_back(std::string(entry.label) + ", Embree MEDIUM");
                labels.push_back(std::string(entry.label) + ", Embree LOW");
            }
            const std::vector<side> found = run_sides_in_turn(sides, path, p, labels);
            r.ours = found[0];
            if (have_embree) {
                r.embree = found[1];
                r.embree_low = found[2];
            }
        }
        results.push_back(std::move(r));
    }

    std::vector<method_result> methods;
    if (wanted("methods")) {
        for (const mesh_row& entry : rows) {
            const std::string key = entry.key;
            if (key != "bunny" && key.rfind("sub", 0) != 0) continue;
            const std::string path = entry.file ? meshes + "/" + entry.file : bunny;
            if (!exists(path)) continue;
            const std::string kinds = packets_one + "," + packets_all;
            const std::vector<side> found = run_sides_in_turn(
                {run.ours(kinds, "sah"), run.ours(kinds, "morton")}, path, p,
                {std::string(entry.label) + ", by the heuristic", std::string(entry.label) + ", in Morton order"});
            methods.push_back({&entry, found[0], found[1]});
        }
    }

    std::vector<picture_row> pictures;
    if (wanted("picture")) {
        pictures = {{"bunny (assets/bunny.obj)", bunny},
                    {"bunny subdivided 4x, OBJ (bunny-sub4.obj)", meshes + "/bunny-sub4.obj"},
                    {"bunny subdivided 4x, binary PLY (bunny-sub4.ply)", meshes + "/bunny-sub4.ply"}};
    }

    if (!compared.empty())
        print_compare_table(compared[0], have_embree ? compared[1] : side(), threads);
    if (!results.empty()) print_scale_table(results, base_ours, base_embree, threads, p);
    if (!methods.empty()) print_method_table(methods, threads);
    std::vector<double> big_picture;
    double big_peak = 0.0;
    if (!pictures.empty()) {
        std::vector<picture_result> found = run_pictures(pictures, RT_SNAPSHOT, quick);
        // The triangle counts, for the peaks: from a load of each mesh.
        for (std::size_t k = 0; k < pictures.size(); ++k) {
            if (!exists(pictures[k].path)) continue;
            side s;
            run_once({self_path(), "--load-child", pictures[k].path}, run_limit, s);
            found[k].triangles = s.triangles;
        }
        print_picture_table(pictures, found, quick);
        big_picture = found[1].seconds;
        big_peak = peak_per_triangle(found[1]);
    }
    // The targets rest on the comparison, the scale rows and the whole runs.
    if (!compared.empty() || !results.empty() || !big_picture.empty())
        print_targets(compared.empty() ? nullptr : &compared[0], compared.size() > 1 ? &compared[1] : nullptr, results,
                      big_picture, big_peak);
    if (wanted("load")) print_load_table(meshes, self_path(), quick);
    for (const row_result& r : results) {
        if (!r.ours.error.empty()) std::printf("\n%s: our run failed: %s\n", r.mesh->label, r.ours.error.c_str());
        if (!r.embree.error.empty()) std::printf("\n%s: Embree's run failed: %s\n", r.mesh->label, r.embree.error.c_str());
        if (!r.embree_low.error.empty())
            std::printf("\n%s: Embree's LOW run failed: %s\n", r.mesh->label, r.embree_low.error.c_str());
    }
    return 0;
}
