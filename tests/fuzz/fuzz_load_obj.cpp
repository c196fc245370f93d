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
#include <cstring>
#include <string>

#include "mesh/load_obj.h"

namespace {

struct outcome {
    bool ok = false;
    std::string error;
    std::string vertices, faces;  // the arrays' bytes
};

outcome parse(const std::uint8_t* data, std::size_t size, std::size_t block, int threads) {
    outcome o;
    mesh m;
    o.ok = parse_obj(reinterpret_cast<const char*>(data), size, "fuzz.obj", &m, &o.error, block, threads);
    if (!o.ok) {
        if (o.error.compare(0, 9, "fuzz.obj:") != 0 || m.vertex_count != -1 || m.vertices) std::abort();
        return o;
    }
    if (m.vertex_count < 0 || m.face_count < 0) std::abort();
    // Every corner must name one of the vertices (touching each one lets
    // the sanitizers see it).
    for (int k = 0; k < m.face_count; ++k)
        for (std::int32_t v : m.faces[k].vertex)
            if (v < 0 || v >= m.vertex_count) std::abort();
    o.vertices.assign(reinterpret_cast<const char*>(m.vertices), sizeof(vector3) * static_cast<std::size_t>(m.vertex_count));
    o.faces.assign(reinterpret_cast<const char*>(m.faces), sizeof(face_corners) * static_cast<std::size_t>(m.face_count));
    release_mesh(&m);
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const outcome whole = parse(data, size, obj_block_size, 1);
    const outcome pieces = parse(data, size, 1 + (size > 0 ? data[size - 1] % 64 : 0), 2);
    if (whole.ok != pieces.ok || whole.error != pieces.error || whole.vertices != pieces.vertices ||
        whole.faces != pieces.faces)
        std::abort();
    return 0;
}
