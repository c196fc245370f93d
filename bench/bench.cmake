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

# raytracer-scale: the scale tables, every figure measured in fresh processes.
add_executable(raytracer-scale bench/scale_main.cpp bench/scale_runs.cpp bench/scale_child.cpp)
target_link_libraries(raytracer-scale PRIVATE raytracer_core)
target_compile_definitions(raytracer-scale PRIVATE RT_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}"
  RT_SNAPSHOT="$<TARGET_FILE:raytracer-snapshot>")
# Its whole-run table runs the real program.
add_dependencies(raytracer-scale raytracer-snapshot)

# Embree 3 is the yardstick where it is installed (libembree-dev); nothing
# else needs it, and without it the table has our columns only.
find_package(embree 3 CONFIG QUIET)
if(embree_FOUND)
  message(STATUS "Benchmarks: Embree ${embree_VERSION} found, the scale table compares with it")
  add_executable(raytracer-scale-embree bench/scale_embree.cpp bench/scale_child.cpp)
  target_link_libraries(raytracer-scale-embree PRIVATE raytracer_core embree)
  target_compile_definitions(raytracer-scale PRIVATE RT_SCALE_EMBREE="$<TARGET_FILE:raytracer-scale-embree>")
  add_dependencies(raytracer-scale raytracer-scale-embree)
else()
  message(STATUS "Benchmarks: Embree 3 not found (libembree-dev), the scale table runs without it")
endif()

# raytracer-view-bench: the viewer's frame loop over a scripted orbit, off
# screen: moving frames a second and the time to the exact picture.
add_executable(raytracer-view-bench bench/view_orbit.cpp)
target_link_libraries(raytracer-view-bench PRIVATE raytracer_view)
target_compile_definitions(raytracer-view-bench PRIVATE RT_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
