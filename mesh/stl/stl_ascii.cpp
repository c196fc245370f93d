// ASCII STL: "solid NAME", then facets, each
//   facet normal NX NY NZ / outer loop / vertex X Y Z (three times) /
//   endloop / endfacet,
// then "endsolid NAME"; more solids may follow. Keywords are words, in any
// case and spread over lines as they come; the name is the rest of its
// line. Coordinates are read exactly as the OBJ reader reads them; the
// normal is three words, not read.

#include <cmath>
#include <cstdint>

#include "mesh/obj/chars.h"
#include "mesh/obj/number.h"
#include "mesh/obj/problem.h"
#include "mesh/stl/stl_data.h"

namespace stl {

namespace {

class word_reader {
public:
    word_reader(text_lines& text, const char* name, mesh_arrays& arrays, std::string* error)
        : text_(text), name_(name), arrays_(arrays), error_(error) {}

    bool solids();

private:
    bool fail(const std::string& what) {
        *error_ = line_message(name_, text_.line(), what);
        return false;
    }
    // The next word, on this line or a later one; false at the end.
    bool next() {
        for (;;) {
            p_ = obj::skip_blanks(p_, end_);
            if (p_ < end_) {
                word_ = p_;
                p_ = obj::word_end(p_, end_);
                return true;
            }
            if (!text_.next(&p_, &end_)) return false;
        }
    }
    bool is(const char* keyword) const {
        const char* w = word_;
        for (; *keyword; ++keyword, ++w)
            if (w == p_ || (*w | 0x20) != *keyword) return false;
        return w == p_;
    }
    bool expect(const char* keyword) {
        const std::string expected = std::string("'") + keyword + "'";
        if (!next()) return ended(expected);
        if (is(keyword)) return true;
        return fail("expected " + expected + ", found " + obj::quoted(obj::whole_word(word_, p_)));
    }
    // The text ended (or could not be read on) where `expected` was due.
    bool ended(const std::string& expected) {
        if (text_.failed()) {
            *error_ = text_.error();
            return false;
        }
        return fail("expected " + expected + ", found the end of the file");
    }
    bool facet();

    text_lines& text_;
    const char* name_;
    mesh_arrays& arrays_;
    std::string* error_;
    const char* p_ = nullptr;
    const char* end_ = nullptr;
    const char* word_ = nullptr;
};

bool word_reader::facet() {
    if (!expect("normal")) return false;
    for (int k = 0; k < 3; ++k)
        if (!next()) return ended("the normal's three words");
    if (!expect("outer") || !expect("loop")) return false;
    vector3 corner[3];
    for (vector3& v : corner) {
        if (!expect("vertex")) return false;
        for (float* c : {&v.x, &v.y, &v.z}) {
            if (!next()) return ended("three numbers");
            // As the OBJ reader reads a coordinate.
            const char* stop = nullptr;
            const obj::number_status status = obj::read_number_word(word_, end_, c, &stop);
            if (status != obj::number_status::ok) return fail(obj::describe(obj::number_problem(status, obj::whole_word(word_, stop))));
            *c *= mesh_scale;
            if (!std::isfinite(*c)) return fail(obj::describe(obj::problem(obj::problem::kind::too_large_to_scale, obj::whole_word(word_, stop))));
        }
    }
    if (!expect("endloop") || !expect("endfacet")) return false;
    if (arrays_.face_count >= most_triangles)
        return fail("more than " + std::to_string(most_triangles) + " triangles (three vertices each)");
    const std::int32_t slot = static_cast<std::int32_t>(arrays_.vertex_count);
    if (!arrays_.add_vertex(corner[0]) || !arrays_.add_vertex(corner[1]) || !arrays_.add_vertex(corner[2]) ||
        !arrays_.add_face(slot, slot + 1, slot + 2)) {
        *error_ = out_of_memory_message(name_, arrays_.face_count);
        return false;
    }
    return true;
}

bool word_reader::solids() {
    if (!expect("solid")) return false;
    p_ = end_;  // the solid's name
    for (;;) {
        if (!next()) return ended("'endsolid'");
        if (is("facet")) {
            if (!facet()) return false;
            continue;
        }
        if (!is("endsolid")) return fail("expected 'facet' or 'endsolid', found " + obj::quoted(obj::whole_word(word_, p_)));
        p_ = end_;  // its name again
        if (!next()) return !text_.failed() || (*error_ = text_.error(), false);
        if (!is("solid")) return fail("expected 'solid' or the end of the file, found " + obj::quoted(obj::whole_word(word_, p_)));
        p_ = end_;
    }
}

}  // namespace

bool read_ascii(text_lines& text, const char* name, mesh_arrays& arrays, std::string* error) {
    return word_reader(text, name, arrays, error).solids();
}

}  // namespace stl
