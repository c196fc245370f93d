// libFuzzer target for the STL reader (fuzz_reader.h says what it checks).

#include "mesh/stl/load_stl.h"
#include "tests/fuzz/fuzz_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_reader(parse_stl, "fuzz.stl", data, size);
    return 0;
}
