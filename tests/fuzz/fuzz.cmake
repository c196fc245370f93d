# The OBJ loader under libFuzzer with AddressSanitizer and UBSan. Built from
# the loader's own sources, because raytracer_core is compiled without the
# fuzzer's instrumentation. Configure with CMAKE_CXX_COMPILER=clang++.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "RT_FUZZ needs clang (configure with -DCMAKE_CXX_COMPILER=clang++)")
endif()
set(RT_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
file(GLOB RT_FUZZ_MESH_SOURCES CONFIGURE_DEPENDS mesh/*.cpp mesh/obj/*.cpp)
add_executable(fuzz_load_obj tests/fuzz/fuzz_load_obj.cpp ${RT_FUZZ_MESH_SOURCES} math/vector3.cpp util/mapped_array.cpp)
target_include_directories(fuzz_load_obj PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
# The loader's asserts stay on: every input the fuzzer makes checks them too.
target_compile_options(fuzz_load_obj PRIVATE ${RT_FUZZ_FLAGS} -UNDEBUG)
target_link_options(fuzz_load_obj PRIVATE ${RT_FUZZ_FLAGS})
