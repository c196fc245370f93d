// ASCII PLY data: one record a line, its values as words. Coordinates are
// read exactly as the OBJ reader reads them, whatever type the header gives
// them; counts and indices are decimal integers. The lines of elements
// other than "vertex" and "face" are stepped over unread.

#include <cmath>
#include <cstdint>

#include "mesh/obj/chars.h"
#include "mesh/obj/number.h"
#include "mesh/obj/problem.h"
#include "mesh/ply/ply_data.h"

namespace ply {

namespace {

// A decimal integer with an optional sign filling [p, end), held to
// +-2^62 (beyond any count or index that can be used).
bool integer_word(const char* p, const char* end, long long* out) {
    const bool negative = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+')) ++p;
    if (p == end) return false;
    constexpr long long held = 1LL << 62;
    long long n = 0;
    for (; p < end; ++p) {
        if (*p < '0' || *p > '9') return false;
        n = n > (held - 9) / 10 ? held : n * 10 + (*p - '0');
    }
    *out = negative ? -n : n;
    return true;
}

class ascii_reader {
public:
    ascii_reader(text_lines& text, reading& r) : text_(text), r_(r) {}
    bool read_element(const ply::element& e);

private:
    bool fail(const std::string& what) {
        r_.error = line_message(r_.name, text_.line(), what);
        return false;
    }
    // The next word of the line into [*begin, *end); false at its end.
    bool word(const char** begin, const char** end) {
        p_ = obj::skip_blanks(p_, end_);
        *begin = p_;
        p_ = obj::word_end(p_, end_);
        *end = p_;
        return *begin < p_;
    }
    bool integer(const ply::element& e, long long* n) {
        const char *b, *w;
        if (!word(&b, &w)) return fail("too few values for element '" + e.name + "'");
        if (!integer_word(b, w, n)) return fail(obj::quoted(obj::whole_word(b, w)) + " is not an integer");
        return true;
    }
    bool line(const ply::element& e);
    bool corners(const ply::element& e, long long count);

    text_lines& text_;
    reading& r_;
    const char* p_ = nullptr;
    const char* end_ = nullptr;
};

bool ascii_reader::line(const ply::element& e) {
    float xyz[3] = {0.0f, 0.0f, 0.0f};
    for (const property& p : e.properties) {
        if (p.list) {
            long long count = 0;
            if (!integer(e, &count)) return false;
            if (p.use == role::corners) {
                if (!corners(e, count)) return false;
                continue;
            }
            if (count < 0) return fail("list count " + std::to_string(count) + " is negative");
            const char *b, *w;
            for (long long j = 0; j < count; ++j)
                if (!word(&b, &w)) return fail("too few values for element '" + e.name + "'");
            continue;
        }
        const char *b, *w;
        if (!word(&b, &w)) return fail("too few values for element '" + e.name + "'");
        if (p.use == role::skip) continue;
        // As the OBJ reader reads a coordinate.
        float value = 0.0f;
        const char* stop = nullptr;
        const obj::number_status status = obj::read_number_word(b, end_, &value, &stop);
        if (status != obj::number_status::ok) return fail(obj::describe(obj::number_problem(status, obj::whole_word(b, stop))));
        value *= mesh_scale;
        if (!std::isfinite(value)) return fail(obj::describe(obj::problem(obj::problem::kind::too_large_to_scale, obj::whole_word(b, stop))));
        xyz[static_cast<int>(p.use) - static_cast<int>(role::x)] = value;
    }
    const char *b, *w;
    if (word(&b, &w)) return fail("more values than element '" + e.name + "' has properties");
    if (&e - r_.h.elements.data() == r_.h.vertex && !r_.arrays.add_vertex(vector3{xyz[0], xyz[1], xyz[2]})) {
        r_.error = out_of_memory_message(r_.name, r_.arrays.face_count);
        return false;
    }
    return true;
}

bool ascii_reader::corners(const ply::element& e, long long count) {
    if (count < 3) return fail("face needs at least three corners");
    mesh_arrays& arrays = r_.arrays;
    std::int32_t first = 0, previous = 0;
    for (long long j = 0; j < count; ++j) {
        long long index = 0;
        if (!integer(e, &index)) return false;
        if (index < 0 || index >= r_.vertex_limit) return fail(r_.index_message(index));
        const std::int32_t slot = static_cast<std::int32_t>(index);
        if (j >= 2) {
            if (arrays.face_count >= mesh_count_limit) return fail(triangle_limit_message());
            if (!arrays.add_face(first, previous, slot)) {
                r_.error = out_of_memory_message(r_.name, arrays.face_count);
                return false;
            }
        }
        if (j == 0) first = slot;
        previous = slot;
    }
    return true;
}

bool ascii_reader::read_element(const ply::element& e) {
    const long long index = &e - r_.h.elements.data();
    const bool read = index == r_.h.vertex || index == r_.h.face;
    for (long long done = 0; done < e.count; ++done) {
        if (!text_.next(&p_, &end_)) {
            if (text_.failed()) r_.error = text_.error();
            else r_.error = line_message(r_.name, text_.line() + 1, r_.ended_message(e, done));
            return false;
        }
        if (read && !line(e)) return false;
    }
    return true;
}

}  // namespace

bool read_ascii(text_lines& text, reading& r) {
    ascii_reader reader(text, r);
    for (const ply::element& e : r.h.elements)
        if (!reader.read_element(e)) return false;
    return true;
}

}  // namespace ply
