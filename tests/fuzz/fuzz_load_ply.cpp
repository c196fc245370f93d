// libFuzzer target for the PLY reader (fuzz_reader.h says what it checks).

#include "mesh/ply/load_ply.h"
#include "tests/fuzz/fuzz_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_reader(parse_ply, "fuzz.ply", data, size);
    return 0;
}
