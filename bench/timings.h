#pragma once

// The measurements raytracer-bench makes, one Google Benchmark each. Every
// one reports seconds per run (manual or real time), so the table can take
// the minimum and the median over the repetitions.

// Full render of the built-in scene with the BVH, on 1 thread and then on
// all threads, in pairs, so that each speed-up compares runs made under the
// same conditions. Counters "one_thread" and "all_threads" hold the seconds.
constexpr const char* bench_render_pairs = "render/bvh/1_thread_then_all";
// The linear scan (gate, then every triangle) on every 20th row, one
// thread, scaled by 20 to the full frame.
constexpr const char* bench_render_linear = "render/linear_scan/every_20th_row_x20";
// model::intersect on the very queries a full render makes (recorded once),
// replayed on one thread.
constexpr const char* bench_model_intersect = "model_intersect/render_queries";
// BVH build over the bunny's triangles, on all threads and on one.
constexpr const char* bench_build_all = "bvh_build/all_threads";
constexpr const char* bench_build_one = "bvh_build/1_thread";
// Loading assets/bunny.obj: open, read, parse, the progress lines.
constexpr const char* bench_mesh_load = "mesh_load/bunny";
// The real program, from its start to its elapsed-time line.
constexpr const char* bench_program = "program/start_to_elapsed_line";
// raytracer-snapshot on the default bunny, from its start to its exit with
// the picture written: a whole run.
constexpr const char* bench_snapshot = "snapshot/start_to_picture_written";

// Counts of the work behind the figures, filled in by the benchmarks.
struct workload_facts {
    long render_queries = 0;     // model::intersect calls in one full render
    int triangles = 0;
    int linear_row_step = 0;     // the linear scan renders every this many rows
    int hardware_threads = 0;
};

extern workload_facts facts;

// Builds the scene the benchmarks share (prints nothing) and registers them.
void register_timings();
