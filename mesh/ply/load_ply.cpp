// The PLY reader's entries: the header, the check of its counts against
// the size of the file, the data, and the mesh handed over.

#include "mesh/ply/load_ply.h"

#include <cstring>
#include <new>

#include "mesh/ply/ply_data.h"

bool is_ply(const char* head, std::size_t n) {
    return n >= 4 && std::memcmp(head, "ply", 3) == 0 && (head[3] == '\n' || head[3] == '\r');
}

bool read_ply(block_reader& in, const char* name, mesh* m, std::string* error, const run_tuning& runs) {
    std::string ignored;
    if (!error) error = &ignored;
    try {
        text_lines text(in, name);
        ply::header h;
        if (!ply::read_header(text, name, &h, error)) return false;
        const long long vertices = h.vertex >= 0 ? h.elements[static_cast<std::size_t>(h.vertex)].count : 0;
        const long long faces = h.face >= 0 ? h.elements[static_cast<std::size_t>(h.face)].count : 0;

        mesh_arrays arrays;
        // A header is believed only as far as the file can hold what it
        // claims; then the arrays are made once, at their size.
        if (in.size() >= 0) {
            const long long data = in.size() - in.offset();
            const long long least = ply::least_data_bytes(h);
            if (least > data) {
                *error = std::string(name) + ": byte " + std::to_string(in.offset()) + ": the header's elements take at least " +
                         std::to_string(least) + " bytes, the file has " + std::to_string(data) + " after the header";
                return false;
            }
            if (!arrays.reserve_vertices(vertices) || !arrays.reserve_faces(faces)) {
                *error = out_of_memory_message(name, 0);
                return false;
            }
        }
        ply::reading r{name, h, arrays, vertices, {}};
        const bool read = h.data_format == ply::format::ascii ? ply::read_ascii(text, r) : ply::read_binary(in, r, runs);
        if (!read) {
            *error = r.error;
            return false;
        }
        if (!arrays.hand_over(m)) {
            *error = out_of_memory_message(name, arrays.face_count);
            return false;
        }
        return true;
    } catch (const std::bad_alloc&) {  // the header's own records
        *error = std::string(name) + ": out of memory";
        return false;
    }
}

bool parse_ply(const char* data, std::size_t size, const char* name, mesh* m, std::string* error,
               const memory_reading& how) {
    if (how.piece == 0) {
        block_reader in(data, size);
        return read_ply(in, name, m, error, how.runs);
    }
    memory_source source(data, size, how.piece, how.size_known);
    block_reader in(source, how.block);
    return read_ply(in, name, m, error, how.runs);
}
