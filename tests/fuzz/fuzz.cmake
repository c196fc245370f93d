# The mesh readers under libFuzzer with AddressSanitizer and UBSan: OBJ,
# PLY and STL, one target each. Built from the readers' own sources,
# because raytracer_core is compiled without the fuzzer's instrumentation.
# Configure with CMAKE_CXX_COMPILER=clang++.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "RT_FUZZ needs clang (configure with -DCMAKE_CXX_COMPILER=clang++)")
endif()
set(RT_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
file(GLOB RT_FUZZ_MESH_SOURCES CONFIGURE_DEPENDS mesh/*.cpp mesh/*/*.cpp)
add_library(fuzz_mesh STATIC ${RT_FUZZ_MESH_SOURCES} math/vector3.cpp util/mapped_array.cpp)
target_include_directories(fuzz_mesh PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
# The readers' asserts stay on: every input the fuzzer makes checks them too.
target_compile_options(fuzz_mesh PUBLIC ${RT_FUZZ_FLAGS} -UNDEBUG)
target_link_options(fuzz_mesh PUBLIC ${RT_FUZZ_FLAGS})
target_link_libraries(fuzz_mesh PUBLIC Threads::Threads)
foreach(reader obj ply stl)
  add_executable(fuzz_load_${reader} tests/fuzz/fuzz_load_${reader}.cpp)
  target_link_libraries(fuzz_load_${reader} PRIVATE fuzz_mesh)
endforeach()
