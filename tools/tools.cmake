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
# raytracer-view: the scene explored live in a window; its parts are a
# library of their own for the tests and the orbit benchmark.
add_library(raytracer_view STATIC tools/view/orbit.cpp tools/view/frames.cpp tools/view/screen.cpp tools/view/viewer.cpp)
target_link_libraries(raytracer_view PUBLIC raytracer_tools)
add_executable(raytracer-view tools/view/view_main.cpp)
target_link_libraries(raytracer-view PRIVATE raytracer_view)
