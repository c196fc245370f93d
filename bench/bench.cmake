# raytracer-bench: Google Benchmark measurements of the render, the BVH, the
# mesh loader and the whole program, printed as one table (scripts/bench).
find_package(benchmark REQUIRED)
add_executable(raytracer-bench bench/bench_main.cpp bench/timings.cpp)
target_link_libraries(raytracer-bench PRIVATE raytracer_core benchmark::benchmark util)
target_compile_definitions(raytracer-bench PRIVATE
  RT_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}" RT_PROGRAM="$<TARGET_FILE:raytracer>"
  RT_SNAPSHOT="$<TARGET_FILE:raytracer-snapshot>")
# The whole-program figures run the real programs.
add_dependencies(raytracer-bench raytracer raytracer-snapshot)
