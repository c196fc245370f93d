// libFuzzer target for the OBJ parser: any input must either load into a
// consistent mesh or be rejected with "fuzz.obj:LINE: ..." — never read or
// write outside an array (AddressSanitizer) nor hit undefined behaviour.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mesh/load_obj.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    mesh m;
    std::string error;
    if (!parse_obj(reinterpret_cast<const char*>(data), size, "fuzz.obj", &m, &error)) {
        if (error.compare(0, 9, "fuzz.obj:") != 0 || m.vertex_count != -1 || m.vertices) std::abort();
        return 0;
    }
    if (m.vertex_count < 0 || m.face_count < 0) std::abort();
    if (m.face_count > 0 && m.vertex_count == 0) std::abort();
    // Every corner must be one of the vertices, and every normal the cross
    // product of its edges (touching each one lets the sanitizers see it).
    for (int k = 0; k < m.face_count; ++k) {
        const face f = make_face(m, k);
        for (const vector3& corner : f.vertex) {
            bool found = false;
            for (int i = 0; i < m.vertex_count && !found; ++i) found = m.vertices[i] == corner;
            if (!found) std::abort();
        }
        const vector3 e1 = f.vertex[1] - f.vertex[0];
        const vector3 e2 = f.vertex[2] - f.vertex[0];
        if (!(f.normal == vector3{e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x}) &&
            f.normal == f.normal)
            std::abort();
    }
    release_mesh(&m);
    return 0;
}
