# The viewer's parts are in their own library, which raytracer_core does not
# hold; its drawing is checked through the same SDL seams as the app's.
target_link_libraries(view_tests PRIVATE raytracer_view)
target_sources(view_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests/support/sdl_seams.cpp)
target_link_options(view_tests PRIVATE -Wl,--wrap=SDL_LockSurface -Wl,--wrap=SDL_UnlockSurface -Wl,--wrap=SDL_Flip)
