# raytracer-snapshot end to end: on a one-triangle mesh, its standard output
# on the default bunny, its memory use, and the bunny in every mesh format.
if(TARGET raytracer-snapshot)
  add_test(NAME e2e_snapshot
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/snapshot_e2e.sh $<TARGET_FILE:raytracer-snapshot>)
  add_test(NAME e2e_snapshot_default_bunny
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/default_run_e2e.sh $<TARGET_FILE:raytracer-snapshot>
            ${CMAKE_CURRENT_SOURCE_DIR}/assets/bunny.obj)
  add_test(NAME e2e_snapshot_output
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/snapshot_output_e2e.sh $<TARGET_FILE:raytracer-snapshot>)
  # Out of memory and huge input under an address-space limit, the limit
  # scanned as on a machine with 16 hardware threads.
  add_executable(raytracer-snapshot-16-threads tools/snapshot.cpp tests/support/sixteen_hardware_threads.cpp)
  target_link_libraries(raytracer-snapshot-16-threads PRIVATE raytracer_tools)
  add_test(NAME e2e_memory
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/memory_e2e.sh $<TARGET_FILE:raytracer-snapshot> $<TARGET_FILE:raytracer>
            $<TARGET_FILE:raytracer-snapshot-16-threads> ${CMAKE_CURRENT_SOURCE_DIR}/assets/bunny.obj)
  # The bunny in every format the loader reads gives the same picture.
  add_test(NAME e2e_mesh_formats
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/formats_e2e.sh $<TARGET_FILE:raytracer-snapshot>
            $<TARGET_FILE:raytracer-meshgen> ${CMAKE_CURRENT_SOURCE_DIR}/assets/bunny.obj
            ${CMAKE_CURRENT_SOURCE_DIR}/docs/raytracer.png)
  # The picture options: the reference picture, sizes, samples, --fit,
  # refusals and the progress line on a terminal.
  add_test(NAME e2e_snapshot_options
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/snapshot_options_e2e.sh $<TARGET_FILE:raytracer-snapshot>
            ${CMAKE_CURRENT_SOURCE_DIR}/assets/bunny.obj ${CMAKE_CURRENT_SOURCE_DIR}/docs/raytracer.png)
  set_tests_properties(e2e_snapshot e2e_snapshot_default_bunny e2e_snapshot_output e2e_memory e2e_mesh_formats
    e2e_snapshot_options
    PROPERTIES LABELS e2e TIMEOUT 300)
endif()
