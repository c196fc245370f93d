# raytracer-snapshot end to end: on a one-triangle mesh, its standard output
# on the default bunny, and its memory use.
if(TARGET raytracer-snapshot)
  add_test(NAME e2e_snapshot
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/snapshot_e2e.sh $<TARGET_FILE:raytracer-snapshot>)
  add_test(NAME e2e_snapshot_default_bunny
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/default_run_e2e.sh $<TARGET_FILE:raytracer-snapshot>
            ${CMAKE_CURRENT_SOURCE_DIR}/assets/bunny.obj)
  # Out of memory and huge input under an address-space limit.
  add_test(NAME e2e_memory
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/memory_e2e.sh $<TARGET_FILE:raytracer-snapshot> $<TARGET_FILE:raytracer>)
  # The picture options: the reference picture, sizes, samples, --fit,
  # refusals and the progress line on a terminal.
  add_test(NAME e2e_snapshot_options
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/snapshot_options_e2e.sh $<TARGET_FILE:raytracer-snapshot>
            ${CMAKE_CURRENT_SOURCE_DIR}/assets/bunny.obj ${CMAKE_CURRENT_SOURCE_DIR}/docs/raytracer.png)
  set_tests_properties(e2e_snapshot e2e_snapshot_default_bunny e2e_memory e2e_snapshot_options
    PROPERTIES LABELS e2e TIMEOUT 300)
endif()
