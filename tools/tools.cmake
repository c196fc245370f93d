# raytracer-snapshot: the program's render written to a PNG, for machines
# without a display and for comparing against the window.
find_package(PNG REQUIRED)
add_executable(raytracer-snapshot tools/snapshot.cpp)
target_link_libraries(raytracer-snapshot PRIVATE raytracer_core PNG::PNG)
