find_package(GTest REQUIRED)
include(GoogleTest)
# GMP's rationals for the exact-arithmetic oracles (tests/support/exact.h);
# only the tests use them.
pkg_check_modules(GMPXX REQUIRED IMPORTED_TARGET gmpxx)

# One gtest binary per source folder: tests/<folder>/*_test.cpp, its
# subfolders (tests/mesh/obj/...) included.
foreach(folder app scene ray_triangle bvh mesh render world math util tools view)
  file(GLOB_RECURSE folder_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/${folder}/*_test.cpp)
  if(folder_tests)
    add_executable(${folder}_tests ${folder_tests})
    target_link_libraries(${folder}_tests PRIVATE raytracer_core GTest::gtest GTest::gtest_main PkgConfig::GMPXX)
    target_compile_definitions(${folder}_tests PRIVATE
      RT_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}" RT_BINARY_DIR="${CMAKE_CURRENT_BINARY_DIR}")
    gtest_discover_tests(${folder}_tests
      PROPERTIES ENVIRONMENT "SDL_VIDEODRIVER=dummy" LABELS unit
      DISCOVERY_TIMEOUT 60)
  endif()
  # Extra registrations of a folder (end-to-end scripts and the like).
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/tests/${folder}/tests.cmake)
    include(${CMAKE_CURRENT_SOURCE_DIR}/tests/${folder}/tests.cmake)
  endif()
endforeach()
