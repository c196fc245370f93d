// The STL reader's entries: which of the two kinds, the reading, and the
// mesh handed over.

#include "mesh/stl/load_stl.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "mesh/stl/stl_data.h"

namespace {

constexpr char utf8_mark[] = "\xEF\xBB\xBF";

bool starts_with_solid(const char* p, std::size_t n) {
    std::size_t i = 0;
    if (n >= 3 && std::memcmp(p, utf8_mark, 3) == 0) i = 3;
    while (i < n && (p[i] == ' ' || p[i] == '\t' || p[i] == '\r' || p[i] == '\n' || p[i] == '\v' || p[i] == '\f')) ++i;
    for (const char* k = "solid"; *k; ++k, ++i)
        if (i == n || (p[i] | 0x20) != *k) return false;
    return i == n || p[i] == ' ' || p[i] == '\t' || p[i] == '\r' || p[i] == '\n' || p[i] == '\v' || p[i] == '\f';
}

}  // namespace

stl_kind stl_kind_of(const char* head, std::size_t n, long long size) {
    if (n >= 84) {
        std::uint32_t count;
        std::memcpy(&count, head + 80, sizeof count);
        if (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) count = __builtin_bswap32(count);
        // No text file is that size: its bytes 80 to 83 would count at
        // least 0x09090909 triangles, some 8 GB.
        if (size >= 0 && size == 84 + 50 * static_cast<long long>(count)) return stl_kind::binary;
        // No text holds a NUL byte; every header holding one is a binary
        // file's, whether its size fits or not.
        if (count > 0 && std::memchr(head, '\0', 84)) return stl_kind::binary;
    }
    return starts_with_solid(head, n) ? stl_kind::ascii : stl_kind::none;
}

bool read_stl(block_reader& in, stl_kind kind, const char* name, mesh* m, std::string* error, const run_tuning& runs) {
    std::string ignored;
    if (!error) error = &ignored;
    try {
        mesh_arrays arrays;
        bool read = false;
        if (kind == stl_kind::binary) {
            read = stl::read_binary(in, name, arrays, error, runs);
        } else {
            if (in.want(3) >= 3 && std::memcmp(in.data(), utf8_mark, 3) == 0) in.consume(3);
            text_lines text(in, name);
            read = stl::read_ascii(text, name, arrays, error);
        }
        if (!read) return false;
        if (!arrays.hand_over(m)) {
            *error = out_of_memory_message(name, arrays.face_count);
            return false;
        }
        return true;
    } catch (const std::bad_alloc&) {  // a message or a run's bookkeeping
        *error = std::string(name) + ": out of memory";
        return false;
    }
}

bool parse_stl(const char* data, std::size_t size, const char* name, mesh* m, std::string* error,
               const memory_reading& how) {
    const stl_kind kind = stl_kind_of(data, std::min<std::size_t>(size, 512), static_cast<long long>(size));
    const stl_kind read_as = kind == stl_kind::binary ? kind : stl_kind::ascii;
    if (how.piece == 0) {
        block_reader in(data, size);
        return read_stl(in, read_as, name, m, error, how.runs);
    }
    memory_source source(data, size, how.piece, how.size_known);
    block_reader in(source, how.block);
    return read_stl(in, read_as, name, m, error, how.runs);
}
