# The app tests see SDL through seams: every lock, unlock and flip that the
# library makes goes through counting wrappers (tests/support/sdl_seams.cpp).
if(TARGET app_tests)
  target_sources(app_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests/support/sdl_seams.cpp)
  target_link_options(app_tests PRIVATE
    -Wl,--wrap=SDL_LockSurface -Wl,--wrap=SDL_UnlockSurface -Wl,--wrap=SDL_Flip)
endif()

# End-to-end checks of the real program, each in a scratch directory with a
# one-triangle stand-in for bunny.obj, or with a copy of the default bunny
# (its loader figures: vertices, faces, max y, min y).
set(rt_e2e_snapshot "")
if(TARGET raytracer-snapshot)
  set(rt_e2e_snapshot $<TARGET_FILE:raytracer-snapshot>)
endif()
add_test(NAME e2e_dummy_driver
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/e2e_dummy.sh $<TARGET_FILE:raytracer>)
add_test(NAME e2e_no_display
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/e2e_no_display.sh $<TARGET_FILE:raytracer>)
add_test(NAME e2e_xvfb_window
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/e2e_xvfb.sh $<TARGET_FILE:raytracer> ${rt_e2e_snapshot})
add_test(NAME e2e_default_bunny_output
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/e2e_dummy.sh $<TARGET_FILE:raytracer>)
add_test(NAME e2e_lost_output
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/e2e_lost_output.sh $<TARGET_FILE:raytracer>)
set(rt_default_bunny
  "E2E_MESH=${CMAKE_CURRENT_SOURCE_DIR}/assets/bunny.obj"
  "E2E_MESH_FIGURES=34835 69666 936.679993 164.860001")
set_tests_properties(e2e_default_bunny_output e2e_xvfb_window PROPERTIES ENVIRONMENT "${rt_default_bunny}")
set_tests_properties(e2e_dummy_driver e2e_no_display e2e_xvfb_window e2e_default_bunny_output e2e_lost_output
  PROPERTIES LABELS e2e TIMEOUT 60)
