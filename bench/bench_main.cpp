// raytracer-bench: runs the timings of timings.cpp with Google Benchmark and
// prints one Markdown table: the minimum and the median of every figure over
// its repetitions, the ratios between them, and the targets.
//   raytracer-bench [Google Benchmark flags]
// The program's own output (scene building, loading lines) is discarded
// while the timings run; progress goes to standard error.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench/timings.h"

namespace {

// Seconds per run of every repetition, by benchmark name, and the counters
// a benchmark reports, by benchmark and counter name.
class collector : public benchmark::BenchmarkReporter {
public:
    std::map<std::string, std::vector<double>> seconds;
    std::map<std::string, std::map<std::string, std::vector<double>>> counters;
    std::map<std::string, std::string> errors;

    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration) continue;
            const std::string name = run.run_name.function_name;
            if (run.error_occurred) {
                errors[name] = run.error_message;
                std::fprintf(stderr, "  %s: %s\n", name.c_str(), run.error_message.c_str());
                continue;
            }
            const double s = run.real_accumulated_time / static_cast<double>(run.iterations);
            seconds[name].push_back(s);
            for (const auto& c : run.counters) counters[name][c.first].push_back(c.second.value);
            std::fprintf(stderr, "  %-40s %10.3f ms\n", name.c_str(), s * 1e3);
        }
    }
};

struct summary {
    double min = 0.0;
    double median = 0.0;
    bool present = false;
};

summary summarise(std::vector<double> v) {
    summary s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    s.min = v.front();
    const std::size_t n = v.size();
    s.median = n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
    s.present = true;
    return s;
}

summary summarise(const collector& c, const char* name) {
    const auto it = c.seconds.find(name);
    return it == c.seconds.end() ? summary() : summarise(it->second);
}

std::vector<double> counter(const collector& c, const char* name, const char* counter_name) {
    const auto it = c.counters.find(name);
    if (it == c.counters.end()) return {};
    const auto jt = it->second.find(counter_name);
    return jt == it->second.end() ? std::vector<double>() : jt->second;
}

std::string cpu_model() {
    std::ifstream info("/proc/cpuinfo");
    std::string line;
    while (std::getline(info, line)) {
        if (line.rfind("model name", 0) == 0) {
            const std::size_t colon = line.find(':');
            if (colon != std::string::npos) return line.substr(colon + 2);
        }
    }
    return "unknown CPU";
}

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

void row(const std::string& figure, const std::string& best, const std::string& median, const std::string& target,
         const std::string& verdict) {
    std::printf("| %s | %s | %s | %s | %s |\n", figure.c_str(), best.c_str(), median.c_str(), target.c_str(),
                verdict.c_str());
}

std::string ms(double seconds) { return format("%.1f ms", seconds * 1e3); }
std::string missing() { return "n/a"; }

// A time row against an upper bound in milliseconds (0: no target).
void time_row(const std::string& figure, const summary& s, double bound_ms) {
    if (!s.present) {
        row(figure, missing(), missing(), bound_ms > 0 ? format("< %.0f ms", bound_ms) : "", "not measured");
        return;
    }
    std::string verdict;
    if (bound_ms > 0) verdict = s.median * 1e3 < bound_ms ? "met" : (s.min * 1e3 < bound_ms ? "min only" : "missed");
    row(figure, ms(s.min), ms(s.median), bound_ms > 0 ? format("< %.0f ms", bound_ms) : "", verdict);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);

    // Everything the library under test prints goes nowhere while it runs.
    std::fflush(stdout);
    const int saved_stdout = dup(STDOUT_FILENO);
    const int null_device = open("/dev/null", O_WRONLY);
    if (null_device >= 0) dup2(null_device, STDOUT_FILENO);

    std::fprintf(stderr, "building the scene and recording the render's queries...\n");
    register_timings();
    collector results;
    benchmark::RunSpecifiedBenchmarks(&results);

    std::fflush(stdout);
    if (saved_stdout >= 0) dup2(saved_stdout, STDOUT_FILENO);

    utsname host{};
    uname(&host);
    std::printf("Machine: %s, %d hardware threads, %s %s; compiler %s, Release build.\n\n", cpu_model().c_str(),
                facts.hardware_threads, host.sysname, host.release, __VERSION__);
    std::printf("| Figure | min | median | target | |\n|---|---|---|---|---|\n");

    const summary single_one = summarise(counter(results, bench_render_pairs, "single_one_thread"));
    const summary single_all = summarise(counter(results, bench_render_pairs, "single_all_threads"));
    const std::vector<double> one_runs = counter(results, bench_render_pairs, "one_thread");
    const std::vector<double> all_runs = counter(results, bench_render_pairs, "all_threads");
    std::vector<double> pair_ratios;
    for (std::size_t k = 0; k < one_runs.size() && k < all_runs.size(); ++k)
        pair_ratios.push_back(one_runs[k] / all_runs[k]);
    const summary one = summarise(one_runs);
    const summary all = summarise(all_runs);
    const summary speed_up = summarise(pair_ratios);
    const summary linear = summarise(results, bench_render_linear);
    const summary queries = summarise(results, bench_model_intersect);
    const summary build_all = summarise(results, bench_build_all);
    const summary build_one = summarise(results, bench_build_one);
    const summary load = summarise(results, bench_mesh_load);
    const summary program = summarise(results, bench_program);
    const summary snapshot = summarise(results, bench_snapshot);

    time_row("Full render, BVH, single rays, 1 thread", single_one, 0);
    time_row("Full render, BVH, single rays, all " + std::to_string(facts.hardware_threads) + " threads", single_all, 0);
    time_row("Full render, BVH, 1 thread", one, 100);
    time_row("Full render, BVH, all " + std::to_string(facts.hardware_threads) + " threads", all, 0);
    if (one.present && single_one.present)
        row("Packets over single rays, 1 thread", format("%.2fx", one.min / single_one.min),
            format("%.2fx", one.median / single_one.median), "", "");
    if (speed_up.present) {
        row("Speed-up, all threads over 1 thread, run by run (lowest, median)", format("%.2fx", speed_up.min),
            format("%.2fx", speed_up.median), ">= 1.8x",
            speed_up.median >= 1.8 ? (speed_up.min >= 1.8 ? "met" : "median only") : "missed");
    }
    const std::string step = std::to_string(facts.linear_row_step);
    time_row("Full render, linear scan: every " + step + "th row, times " + step + ", 1 thread", linear, 0);
    if (linear.present && one.present)
        row("Linear scan over BVH, 1 thread", format("%.0fx", linear.min / one.min),
            format("%.0fx", linear.median / one.median), "", "");
    if (queries.present) {
        const double n = static_cast<double>(facts.render_queries);
        row("model::intersect on the render's " + std::to_string(facts.render_queries) + " queries, 1 thread",
            format("%.1f Mrays/s", n / queries.min / 1e6), format("%.1f Mrays/s", n / queries.median / 1e6), "",
            "");
    }
    time_row("BVH build, surface area heuristic, " + std::to_string(facts.triangles) + " triangles, all threads",
             build_all, 30);
    time_row("BVH build, surface area heuristic, 1 thread", build_one, 0);
    time_row("Mesh load, bunny.obj (2.4 MB)", load, 60);
    time_row("Whole program, start to elapsed-time line", program, 250);
    time_row("Whole run, raytracer-snapshot, start to picture written", snapshot, 90);

    for (const auto& e : results.errors) std::printf("\n%s failed: %s\n", e.first.c_str(), e.second.c_str());
    std::printf("\nmin and median over repeated runs (render pairs, queries, build, load: 15; program, snapshot: 9;\n"
                "linear: 3). Each render pair is one 1-thread render, then one on all threads. The renders and\n"
                "queries go through the surface area heuristic's tree; the whole runs build as the program does.\n"
                "\"met\": the median is within the target (for the speed-up, every run is); \"min only\":\n"
                "only the best run is; \"median only\": the median speed-up is, not every run's.\n");
    return results.errors.empty() ? 0 : 1;
}
