// Binary STL: an 80-byte header, the triangle count N (32 bits, little
// endian), then N records of 50 bytes: the normal, the three corners (each
// three little-endian floats) and two attribute bytes. The size must be
// exactly 84 + 50 x N bytes. Records are converted in runs on several
// threads; a run stops at a bad value, which is then read on its own for
// the message.

#include <algorithm>
#include <cstdint>

#include "mesh/input/scalar.h"
#include "mesh/stl/stl_data.h"

namespace stl {

namespace {

constexpr long long header_bytes = 84;
constexpr long long record_bytes = 50;
constexpr long long corners_at = 12;  // after the normal

// Triangles [begin, end) of a run at `base`; `first` is the run's first
// triangle in the file.
long long convert(const char* base, long long first, long long begin, long long end, vector3* vertices,
                  face_corners* faces) {
    for (long long i = begin; i < end; ++i) {
        const char* corner = base + i * record_bytes + corners_at;
        float c[9];
        for (int k = 0; k < 9; ++k)
            if (scale_coordinate(load_float(corner + 4 * k, false), &c[k]) != coordinate_status::ok) return i;
        for (int j = 0; j < 3; ++j) vertices[3 * i + j] = vector3{c[3 * j], c[3 * j + 1], c[3 * j + 2]};
        const std::int32_t slot = static_cast<std::int32_t>(3 * (first + i));
        faces[i] = face_corners{{slot, slot + 1, slot + 2}};
    }
    return end;
}

struct reader {
    block_reader& in;
    const char* name;
    mesh_arrays& arrays;
    std::string* error;

    bool fail_at(long long offset, const std::string& what) {
        *error = std::string(name) + ": byte " + std::to_string(offset) + ": " + what;
        return false;
    }
    bool ended(long long done, long long count) {
        *error = stop_message(in, name);
        if (!error->empty()) return false;
        return fail_at(in.offset(), "the file ends after " + std::to_string(done) + " of the " + std::to_string(count) +
                                        " triangles the header counts");
    }
    // The record that stopped a run, for its message.
    bool bad_record(long long done, long long count) {
        if (in.want(record_bytes) < record_bytes) return ended(done, count);
        for (int k = 0; k < 9; ++k) {
            const float value = load_float(in.data() + corners_at + 4 * k, false);
            float scaled;
            const coordinate_status status = scale_coordinate(value, &scaled);
            if (status != coordinate_status::ok)
                return fail_at(in.offset() + corners_at + 4 * k, coordinate_message(status, value, scalar_type::float32));
        }
        *error = out_of_memory_message(name, arrays.face_count);
        return false;
    }
};

}  // namespace

bool read_binary(block_reader& in, const char* name, mesh_arrays& arrays, std::string* error, const run_tuning& runs) {
    reader r{in, name, arrays, error};
    if (in.want(header_bytes) < header_bytes) return r.ended(0, 0);
    const long long count = load_bytes<std::uint32_t>(in.data() + 80, false);
    in.consume(header_bytes);
    if (count > most_triangles)
        return r.fail_at(80, std::to_string(count) + " triangles need more than " + std::to_string(mesh_count_limit) +
                                 " vertices");
    // The size is the format's one check of the count: believed before
    // anything is allocated.
    const long long size = header_bytes + record_bytes * count;
    if (in.size() >= 0 && in.size() != size)
        return r.fail_at(80, "the header counts " + std::to_string(count) + " triangles, 84 + 50 x " + std::to_string(count) +
                                 " = " + std::to_string(size) + " bytes, but the file has " + std::to_string(in.size()));
    if (in.size() >= 0 && (!arrays.reserve_vertices(3 * count) || !arrays.reserve_faces(count))) {
        *error = out_of_memory_message(name, 0);
        return false;
    }

    for (long long done = 0; done < count;) {
        long long n = std::min(count - done, runs.window);
        // A stream is read a buffer's worth at a time, a record at least.
        const long long bytes =
            in.viewing() ? n * record_bytes
                         : std::max(record_bytes, std::min(n * record_bytes, static_cast<long long>(in.block())));
        n = std::min(n, static_cast<long long>(in.want(static_cast<std::size_t>(bytes))) / record_bytes);
        if (n == 0 || !arrays.reserve_vertices(arrays.vertex_count + 3 * n) || !arrays.reserve_faces(arrays.face_count + n))
            return r.bad_record(done, count);
        const char* const base = in.data();
        vector3* const vertices = arrays.vertices() + arrays.vertex_count;
        face_corners* const faces = arrays.faces() + arrays.face_count;
        const long long taken =
            convert_run(n, runs, [&](long long b, long long e) { return convert(base, done, b, e, vertices, faces); });
        arrays.vertex_count += 3 * taken;
        arrays.face_count += taken;
        in.consume(static_cast<std::size_t>(taken * record_bytes));
        done += taken;
        if (taken < n) return r.bad_record(done, count);
    }
    // Without a size to go by, what follows the last triangle is seen now.
    if (in.want(1) > 0)
        return r.fail_at(in.offset(), "more data after the last of the " + std::to_string(count) +
                                          " triangles the header counts");
    *error = stop_message(in, name);
    return error->empty();
}

}  // namespace stl
