# What the companion programs share: their command lines (--mesh, --fit,
# --up) and the safe PNG write.
find_package(PNG REQUIRED)
add_library(raytracer_tools STATIC tools/command_line.cpp tools/png_file.cpp)
target_link_libraries(raytracer_tools PUBLIC raytracer_core PNG::PNG)
# raytracer-snapshot: the program's render written to a PNG, for machines
# without a display and for comparing against the window.
add_executable(raytracer-snapshot tools/snapshot.cpp)
target_link_libraries(raytracer-snapshot PRIVATE raytracer_tools)
# raytracer-meshgen: the meshes of the scale benchmark, written at bench
# time (subdivided bunnies, a CAD cylinder, a print bed, outliers, slivers).
add_library(raytracer_meshgen STATIC tools/meshgen.cpp tools/meshgen_formats.cpp)
target_link_libraries(raytracer_meshgen PUBLIC raytracer_core)
add_executable(raytracer-meshgen tools/meshgen_main.cpp)
target_link_libraries(raytracer-meshgen PRIVATE raytracer_meshgen)
