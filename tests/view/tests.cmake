# The viewer's parts are in their own library, which raytracer_core does not
# hold; its drawing is checked through the same SDL seams as the app's.
target_link_libraries(view_tests PRIVATE raytracer_view)
target_sources(view_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests/support/sdl_seams.cpp)
target_link_options(view_tests PRIVATE -Wl,--wrap=SDL_LockSurface -Wl,--wrap=SDL_UnlockSurface -Wl,--wrap=SDL_Flip)

# The window under Xvfb, driven by xdotool, on the default bunny.
if(TARGET raytracer-view)
  add_test(NAME e2e_view
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/view_e2e.sh $<TARGET_FILE:raytracer-view> $<TARGET_FILE:raytracer-snapshot>)
  set_tests_properties(e2e_view PROPERTIES LABELS e2e TIMEOUT 120
    ENVIRONMENT "E2E_MESH=${CMAKE_CURRENT_SOURCE_DIR}/assets/bunny.obj;E2E_MESH_FIGURES=34835 69666 936.679993 164.860001")
endif()
