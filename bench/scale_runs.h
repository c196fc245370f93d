#pragma once

// The driver's side of the runs of the scale tables (scale_child.h): each
// run a fresh process, its report read off a pipe, its peak memory read
// when it ends; and what the tables make of the figures.

#include <map>
#include <string>
#include <vector>

// How many runs and renders, and how long one run may take before it is
// stopped (the pathological meshes can take many minutes per picture).
struct policy {
    int min_runs;          // unless a render takes longer than slow_render
    int max_runs;
    double side_budget;    // no new run once a side has taken this long
    int rounds;            // per run
    double render_budget;  // per run: no new round after this long
    double timeout;        // per run, from the end of its build: renders only
};

constexpr policy full_policy{2, 5, 20.0, 3, 4.0, 60.0};
constexpr policy quick_policy{1, 2, 3.0, 2, 2.0, 30.0};

// Load and build are never stopped, short of this: they are the figures
// the big meshes are there for.
constexpr double run_limit = 900.0;

// What the runs of one side (ours or Embree's, one variant) of one row
// found.
struct side {
    std::vector<double> load, build, to_rendered;
    std::map<std::string, std::vector<double>> renders;  // by kind: "packets:0"
    std::vector<double> peak_bytes;
    long long triangles = -1, vertices = -1, file_bytes = -1;
    std::string stopped;         // the step a run was stopped in: "load", "build" or "render"
    double stopped_after = 0.0;  // how long that step had run by then
    std::string error;
    int runs = 0;

    // The renders of one kind (empty when there are none).
    const std::vector<double>& render(const std::string& kind) const;
    bool rendered() const;
};

// One child: the command line up to the mesh, then what follows it.
struct child_command {
    std::vector<std::string> head;  // the program and its first arguments
    std::vector<std::string> tail;  // after MESH ROUNDS BUDGET
};

// Starts `argv` with its standard output on a pipe, reads its report lines
// into `s`, stops it `timeout` seconds after its build, and records its
// peak memory.
void run_once(const std::vector<std::string>& argv, double timeout, side& s);

// Runs of `command` on the mesh at `path` as `p` says, reporting each on
// standard error under `label`.
side run_side(const child_command& command, const std::string& path, const policy& p, const std::string& label);

// The same for several commands in turn, run after run, so that each
// figure of one is taken in the same conditions as the others'.
std::vector<side> run_sides_in_turn(const std::vector<child_command>& commands, const std::string& path, const policy& p,
                                    const std::vector<std::string>& labels);

// A whole program run to its end, its standard output to /dev/null: the
// seconds from its start and its peak memory; seconds < 0 when it failed.
struct program_run {
    double seconds = -1.0;
    double peak_bytes = 0.0;
};
program_run run_program(const std::vector<std::string>& argv);

// --- what the tables show ----------------------------------------------------

struct summary {
    double min = 0.0, median = 0.0;
    bool present = false;
};
summary summarise(std::vector<double> v);

std::string format(const char* pattern, double a);
// Seconds as ms below one second, else s: "min / median unit".
std::string time_cell(const summary& s);
// Ours over theirs: "min over min / median over median".
std::string ratio_cell(const summary& ours, const summary& theirs);
// The value, or what stopped it ("> N s (stopped)", "failed").
std::string with_stop(const summary& value, const side& s, const char* step);
std::string render_ratio_cell(const summary& ours, const summary& theirs, const side& o);
std::string thousands(long long n);
// The highest peak over the runs, in bytes a triangle and in all.
std::string peak_cell(const side& s);
double peak_per_triangle(const side& s);
