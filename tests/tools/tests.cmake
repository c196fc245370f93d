# The generator's tests use its library, which raytracer_core does not hold.
target_link_libraries(tools_tests PRIVATE raytracer_meshgen)
