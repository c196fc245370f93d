// libFuzzer target for the OBJ parser: any input must either load into a
// consistent mesh or be rejected with "fuzz.obj:LINE: ..." — never read or
// write outside an array (AddressSanitizer) nor hit undefined behaviour.
// Each input is parsed twice: in one block on one thread, and in blocks of
// 1 to 64 bytes (the last byte picks the size) on two threads, where most
// lines are longer than a block and go through the streaming path; both
// must give the very same result.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tests/support/obj_outcome.h"

namespace {

// A rejection names the file and leaves the mesh alone; every corner of a
// loaded mesh names one of its vertices.
void check(const obj_outcome& o) {
    if (!o.ok) {
        if (o.error.compare(0, 9, "fuzz.obj:") != 0 || !o.left_alone) std::abort();
        return;
    }
    if (o.vertex_count < 0 || o.face_count < 0) std::abort();
    for (const face_corners& f : o.faces)
        for (std::int32_t v : f.vertex)
            if (v < 0 || v >= o.vertex_count) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const obj_outcome whole = parse_outcome(text, size, "fuzz.obj", obj_block_size, 1);
    const obj_outcome pieces = parse_outcome(text, size, "fuzz.obj", 1 + (size > 0 ? data[size - 1] % 64 : 0), 2);
    check(whole);
    check(pieces);
    if (!(whole == pieces)) std::abort();
    return 0;
}
