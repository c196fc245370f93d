// Binary PLY data. Records are read one by one in general, and, where they
// all have the layout of the first one (every list as long as its list
// there, as in a mesh of triangles only), a run of them is converted at
// once on several threads. A run stops at the first record that is not
// like the first one or holds a bad value; the general reading takes over
// there, so every message comes from it.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "mesh/input/record_runs.h"
#include "mesh/ply/ply_data.h"

namespace ply {

namespace {

// The most bytes a record may span to be read in runs.
constexpr long long most_run_stride = 1 << 16;

// A record's layout, taken from one record: where each value is.
struct layout {
    struct list_count {
        long long offset;
        scalar_type type;
        long long count;
    };
    long long stride = 0;
    std::vector<list_count> lists;  // every list's count must be as here
    long long coordinate_offset[3] = {0, 0, 0};
    scalar_type coordinate_type[3] = {scalar_type::float32, scalar_type::float32, scalar_type::float32};
    long long corner_offset = 0;  // faces: the first index
    scalar_type corner_type = scalar_type::int32;
    long long corners = 0;
};

template <typename T, bool big>
T load_native(const char* p) {
    if constexpr (std::is_same_v<T, float>) return load_float(p, big);
    else if constexpr (std::is_same_v<T, double>) return load_double(p, big);
    else return load_bytes<T>(p, big);
}

// Calls f with a value of the C++ type that holds `t`.
template <typename F>
auto with_type(scalar_type t, const F& f) {
    switch (t) {
    case scalar_type::int8: return f(std::int8_t{});
    case scalar_type::uint8: return f(std::uint8_t{});
    case scalar_type::int16: return f(std::int16_t{});
    case scalar_type::uint16: return f(std::uint16_t{});
    case scalar_type::int32: return f(std::int32_t{});
    case scalar_type::uint32: return f(std::uint32_t{});
    case scalar_type::float32: return f(float{});
    default: return f(double{});
    }
}

template <typename F>
auto with_order(bool big, const F& f) {
    return big ? f(std::true_type{}) : f(std::false_type{});
}

bool lists_match(const layout& l, const char* record, bool big) {
    for (const layout::list_count& c : l.lists)
        if (integer_at(record + c.offset, c.type, big) != c.count) return false;
    return true;
}

// Vertices [begin, end) of a run at `base`, into `out`; returns the first
// one not taken.
template <typename T, bool big>
long long convert_vertices(const layout& l, const char* base, long long begin, long long end, vector3* out) {
    for (long long i = begin; i < end; ++i) {
        const char* record = base + i * l.stride;
        if (!l.lists.empty() && !lists_match(l, record, big)) return i;
        float xyz[3];
        for (int a = 0; a < 3; ++a) {
            const double value = static_cast<double>(load_native<T, big>(record + l.coordinate_offset[a]));
            if (scale_coordinate(value, &xyz[a]) != coordinate_status::ok) return i;
        }
        out[i] = vector3{xyz[0], xyz[1], xyz[2]};
    }
    return end;
}

// The same when x, y and z differ in type.
long long convert_mixed_vertices(const layout& l, bool big, const char* base, long long begin, long long end,
                                 vector3* out) {
    for (long long i = begin; i < end; ++i) {
        const char* record = base + i * l.stride;
        if (!l.lists.empty() && !lists_match(l, record, big)) return i;
        float xyz[3];
        for (int a = 0; a < 3; ++a)
            if (scale_coordinate(value_at(record + l.coordinate_offset[a], l.coordinate_type[a], big), &xyz[a]) !=
                coordinate_status::ok)
                return i;
        out[i] = vector3{xyz[0], xyz[1], xyz[2]};
    }
    return end;
}

// Faces [begin, end) of a run, each fanned into corners - 2 triangles.
template <typename T, bool big>
long long convert_faces(const layout& l, long long vertex_limit, const char* base, long long begin, long long end,
                        face_corners* out) {
    const long long fan = l.corners - 2;
    for (long long i = begin; i < end; ++i) {
        const char* record = base + i * l.stride;
        if (!lists_match(l, record, big)) return i;
        const char* corner = record + l.corner_offset;
        std::int32_t slot[3];
        for (long long j = 0; j < l.corners; ++j, corner += sizeof(T)) {
            const long long index = static_cast<long long>(load_native<T, big>(corner));
            if (index < 0 || index >= vertex_limit) return i;
            slot[j < 2 ? j : 2] = static_cast<std::int32_t>(index);
            if (j >= 2) {
                out[i * fan + j - 2] = face_corners{{slot[0], slot[1], slot[2]}};
                slot[1] = slot[2];
            }
        }
    }
    return end;
}

// x, y and z: 0, 1 and 2.
int axis(role r) { return static_cast<int>(r) - static_cast<int>(role::x); }

class binary_reader {
public:
    binary_reader(block_reader& in, reading& r, const run_tuning& runs)
        : in_(in), r_(r), runs_(runs), big_(r.h.data_format == format::binary_big_endian) {}

    bool read_element(const ply::element& e);

private:
    bool fail_at(long long offset, const std::string& what) {
        r_.error = std::string(r_.name) + ": byte " + std::to_string(offset) + ": " + what;
        return false;
    }
    bool ended(const ply::element& e, long long done) {
        r_.error = stop_message(in_, r_.name);
        return !r_.error.empty() ? false : fail_at(in_.offset(), r_.ended_message(e, done));
    }
    bool out_of_memory() {
        r_.error = out_of_memory_message(r_.name, r_.arrays.face_count);
        return false;
    }

    bool record(const ply::element& e, long long done);
    bool corners(const ply::element& e, long long done, const property& p, long long count, long long offset);
    bool plan(const ply::element& e, layout* l);
    long long run(const ply::element& e, long long done, const layout& l, bool* whole);

    block_reader& in_;
    reading& r_;
    const run_tuning& runs_;
    const bool big_;
};

// One record, read in general.
bool binary_reader::record(const ply::element& e, long long done) {
    float xyz[3] = {0.0f, 0.0f, 0.0f};
    for (const property& p : e.properties) {
        if (!p.list) {
            const std::size_t size = static_cast<std::size_t>(scalar_size(p.type));
            if (in_.want(size) < size) return ended(e, done);
            if (p.use != role::skip) {
                const double value = value_at(in_.data(), p.type, big_);
                const coordinate_status status = scale_coordinate(value, &xyz[axis(p.use)]);
                if (status != coordinate_status::ok) return fail_at(in_.offset(), coordinate_message(status, value, p.type));
            }
            in_.consume(size);
            continue;
        }
        const std::size_t count_size = static_cast<std::size_t>(scalar_size(p.count_type));
        if (in_.want(count_size) < count_size) return ended(e, done);
        const long long count = integer_at(in_.data(), p.count_type, big_);
        const long long offset = in_.offset();
        in_.consume(count_size);
        if (p.use == role::corners) {
            if (!corners(e, done, p, count, offset)) return false;
        } else if (count < 0) {
            return fail_at(offset, "list count " + std::to_string(count) + " is negative");
        } else if (!in_.skip(count * scalar_size(p.type))) {
            return ended(e, done);
        }
    }
    if (&e - r_.h.elements.data() == r_.h.vertex && !r_.arrays.add_vertex(vector3{xyz[0], xyz[1], xyz[2]}))
        return out_of_memory();
    return true;
}

// A face's list of `count` vertex indices, fanned into triangles.
bool binary_reader::corners(const ply::element& e, long long done, const property& p, long long count, long long offset) {
    if (count < 3) return fail_at(offset, "face needs at least three corners");
    const std::size_t size = static_cast<std::size_t>(scalar_size(p.type));
    mesh_arrays& arrays = r_.arrays;
    std::int32_t first = 0, previous = 0;
    for (long long j = 0; j < count; ++j) {
        if (in_.want(size) < size) return ended(e, done);
        const long long index = integer_at(in_.data(), p.type, big_);
        if (index < 0 || index >= r_.vertex_limit) return fail_at(in_.offset(), r_.index_message(index));
        const std::int32_t slot = static_cast<std::int32_t>(index);
        if (j >= 2) {
            if (arrays.face_count >= mesh_count_limit) return fail_at(in_.offset(), triangle_limit_message());
            if (!arrays.add_face(first, previous, slot)) return out_of_memory();
        }
        if (j == 0) first = slot;
        previous = slot;
        in_.consume(size);
    }
    return true;
}

// The layout of the record at hand, if runs can be read with it.
bool binary_reader::plan(const ply::element& e, layout* l) {
    long long at = 0;
    for (const property& p : e.properties) {
        if (!p.list) {
            if (p.use != role::skip) {
                l->coordinate_offset[axis(p.use)] = at;
                l->coordinate_type[axis(p.use)] = p.type;
            }
            at += scalar_size(p.type);
            continue;
        }
        const long long count_end = at + scalar_size(p.count_type);
        if (in_.want(static_cast<std::size_t>(count_end)) < static_cast<std::size_t>(count_end)) return false;
        const long long count = integer_at(in_.data() + at, p.count_type, big_);
        if (count < (p.use == role::corners ? 3 : 0) || count > most_run_stride) return false;
        l->lists.push_back({at, p.count_type, count});
        if (p.use == role::corners) {
            l->corner_offset = count_end;
            l->corner_type = p.type;
            l->corners = count;
        }
        at = count_end + count * scalar_size(p.type);
        if (at > most_run_stride) return false;
    }
    l->stride = at;
    return at > 0;
}

// Converts a run of records like the one at hand; returns how many, and
// whether they were all it tried.
long long binary_reader::run(const ply::element& e, long long done, const layout& l, bool* whole) {
    const bool faces = &e - r_.h.elements.data() == r_.h.face;
    mesh_arrays& arrays = r_.arrays;
    long long n = std::min(e.count - done, runs_.window);
    if (faces) n = std::min(n, (mesh_count_limit - arrays.face_count) / (l.corners - 2));
    // A stream is read a buffer's worth at a time, a record at least.
    const long long bytes =
        in_.viewing() ? n * l.stride : std::max(l.stride, std::min(n * l.stride, static_cast<long long>(in_.block())));
    n = std::min(n, static_cast<long long>(in_.want(static_cast<std::size_t>(bytes))) / l.stride);
    if (n <= 0) return 0;
    const char* const base = in_.data();
    const bool big = big_;
    long long taken = 0;
    if (faces) {
        if (!arrays.reserve_faces(arrays.face_count + n * (l.corners - 2))) return 0;
        face_corners* const out = arrays.faces() + arrays.face_count;
        const long long limit = r_.vertex_limit;
        taken = with_type(l.corner_type, [&](auto type) {
            return with_order(big, [&](auto order) {
                using T = decltype(type);
                return convert_run(n, runs_, [&](long long b, long long end) {
                    if constexpr (std::is_integral_v<T>) return convert_faces<T, decltype(order)::value>(l, limit, base, b, end, out);
                    else return b;
                });
            });
        });
        arrays.face_count += taken * (l.corners - 2);
    } else {
        if (!arrays.reserve_vertices(arrays.vertex_count + n)) return 0;
        vector3* const out = arrays.vertices() + arrays.vertex_count;
        const bool same = l.coordinate_type[0] == l.coordinate_type[1] && l.coordinate_type[1] == l.coordinate_type[2];
        if (same) {
            taken = with_type(l.coordinate_type[0], [&](auto type) {
                return with_order(big, [&](auto order) {
                    return convert_run(n, runs_, [&](long long b, long long end) {
                        return convert_vertices<decltype(type), decltype(order)::value>(l, base, b, end, out);
                    });
                });
            });
        } else {
            taken = convert_run(n, runs_, [&](long long b, long long end) { return convert_mixed_vertices(l, big, base, b, end, out); });
        }
        arrays.vertex_count += taken;
    }
    in_.consume(static_cast<std::size_t>(taken * l.stride));
    *whole = taken == n;
    return taken;
}

bool binary_reader::read_element(const ply::element& e) {
    const long long index = &e - r_.h.elements.data();
    const bool mesh_part = index == r_.h.vertex || index == r_.h.face;
    if (!mesh_part) {
        // An element without lists is stepped over at once.
        long long stride = 0;
        for (const property& p : e.properties) stride = p.list || stride < 0 ? -1 : stride + scalar_size(p.type);
        if (stride >= 0) {
            // More than any file holds reads to the end of this one.
            const long long bytes = stride > 0 && e.count > LLONG_MAX / stride ? LLONG_MAX : e.count * stride;
            const long long start = in_.offset();
            return in_.skip(bytes) || ended(e, stride > 0 ? (in_.offset() - start) / stride : 0);
        }
    }
    // Runs as long as they go through. Where one stops early, records are
    // read in general: the one it stopped at, or a stretch of them when
    // runs stop too soon to be worth starting.
    for (long long done = 0; done < e.count;) {
        long long stretch = e.count;
        if (mesh_part) {
            layout l;
            bool whole = false;
            const long long taken = plan(e, &l) ? run(e, done, l, &whole) : 0;
            done += taken;
            if (whole) continue;
            stretch = taken >= runs_.part_least ? 1 : runs_.part_least;
        }
        for (const long long until = std::min(e.count, done + stretch); done < until; ++done)
            if (!record(e, done)) return false;
    }
    return true;
}

}  // namespace

bool read_binary(block_reader& in, reading& r, const run_tuning& runs) {
    binary_reader reader(in, r, runs);
    for (const element& e : r.h.elements)
        if (!reader.read_element(e)) return false;
    return true;
}

}  // namespace ply
