// The PLY header, line by line: "ply", "format", "comment" and "obj_info",
// "element", "property", "end_header". Blank lines are allowed; any other
// line is refused, so that a file the reader half understands is never
// taken for a good one.

#include "mesh/ply/ply_header.h"

#include <climits>

#include "mesh/input/mesh_arrays.h"

namespace ply {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::vector<std::string> words_of(const char* p, const char* end) {
    std::vector<std::string> words;
    while (p < end) {
        while (p < end && is_blank(*p)) ++p;
        const char* start = p;
        while (p < end && !is_blank(*p)) ++p;
        if (p > start) words.emplace_back(start, p);
    }
    return words;
}

bool type_named(const std::string& word, scalar_type* t) {
    static const struct {
        const char* name;
        scalar_type type;
    } names[] = {
        {"char", scalar_type::int8},     {"int8", scalar_type::int8},       {"uchar", scalar_type::uint8},
        {"uint8", scalar_type::uint8},   {"short", scalar_type::int16},     {"int16", scalar_type::int16},
        {"ushort", scalar_type::uint16}, {"uint16", scalar_type::uint16},   {"int", scalar_type::int32},
        {"int32", scalar_type::int32},   {"uint", scalar_type::uint32},     {"uint32", scalar_type::uint32},
        {"float", scalar_type::float32}, {"float32", scalar_type::float32}, {"double", scalar_type::float64},
        {"float64", scalar_type::float64},
    };
    for (const auto& n : names)
        if (word == n.name) {
            *t = n.type;
            return true;
        }
    return false;
}

// A count of at most 2^62: plain decimal digits.
bool count_of(const std::string& word, long long* count) {
    if (word.empty() || word.size() > 19) return false;
    unsigned long long n = 0;  // 19 digits fit
    for (char c : word) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    if (n > (1ULL << 62)) return false;
    *count = static_cast<long long>(n);
    return true;
}

const char* role_name(role r) { return r == role::x ? "x" : r == role::y ? "y" : "z"; }

class header_reader {
public:
    explicit header_reader(header* h) : h_(h) {}

    // One header line's words; false with `why` set when it is refused.
    bool take(const std::vector<std::string>& w, std::string* why);
    // The whole header once "end_header" is read.
    bool check(long long end_line, long long* bad_line, std::string* why) const;

private:
    bool take_format(const std::vector<std::string>& w, std::string* why);
    bool take_element(const std::vector<std::string>& w, std::string* why);
    bool take_property(const std::vector<std::string>& w, std::string* why);

    header* h_;
    bool has_format_ = false;
};

bool header_reader::take(const std::vector<std::string>& w, std::string* why) {
    if (w.empty() || w[0] == "comment" || w[0] == "obj_info") return true;
    if (w[0] == "format") return take_format(w, why);
    if (w[0] == "element") return take_element(w, why);
    if (w[0] == "property") return take_property(w, why);
    *why = "'" + w[0] + "' is not a PLY header line";
    return false;
}

bool header_reader::take_format(const std::vector<std::string>& w, std::string* why) {
    if (has_format_) return *why = "a second format line", false;
    if (!h_->elements.empty()) return *why = "the format line must come before the elements", false;
    if (w.size() != 3) return *why = "a format line is 'format TYPE 1.0'", false;
    if (w[1] == "ascii") h_->data_format = format::ascii;
    else if (w[1] == "binary_little_endian") h_->data_format = format::binary_little_endian;
    else if (w[1] == "binary_big_endian") h_->data_format = format::binary_big_endian;
    else return *why = "'" + w[1] + "' is not a PLY format (ascii, binary_little_endian or binary_big_endian)", false;
    if (w[2] != "1.0") return *why = "PLY version '" + w[2] + "' is not 1.0", false;
    has_format_ = true;
    return true;
}

bool header_reader::take_element(const std::vector<std::string>& w, std::string* why) {
    if (w.size() != 3) return *why = "an element line is 'element NAME COUNT'", false;
    element e;
    e.name = w[1];
    if (!count_of(w[2], &e.count)) return *why = "'" + w[2] + "' is not an element count", false;
    int* index = e.name == "vertex" ? &h_->vertex : e.name == "face" ? &h_->face : nullptr;
    if (index) {
        if (*index >= 0) return *why = "a second '" + e.name + "' element", false;
        // Every face is a triangle at least.
        if (e.count > mesh_count_limit)
            return *why = "more than " + std::to_string(mesh_count_limit) + (index == &h_->vertex ? " vertices" : " faces"),
                   false;
        *index = static_cast<int>(h_->elements.size());
    }
    h_->elements.push_back(std::move(e));
    return true;
}

bool header_reader::take_property(const std::vector<std::string>& w, std::string* why) {
    if (h_->elements.empty()) return *why = "a property line before any element line", false;
    property p;
    const bool list = w.size() >= 2 && w[1] == "list";
    if (w.size() != (list ? 5u : 3u))
        return *why = "a property line is 'property TYPE NAME' or 'property list COUNT_TYPE TYPE NAME'", false;
    p.list = list;
    p.name = w.back();
    if (list && !type_named(w[2], &p.count_type)) return *why = "'" + w[2] + "' is not a PLY type", false;
    if (!type_named(w[list ? 3 : 1], &p.type)) return *why = "'" + w[list ? 3 : 1] + "' is not a PLY type", false;
    if (list && !is_integer(p.count_type)) return *why = "a list's count must be of an integer type", false;

    element& e = h_->elements.back();
    const int here = static_cast<int>(h_->elements.size()) - 1;
    if (here == h_->vertex && (p.name == "x" || p.name == "y" || p.name == "z")) {
        if (p.list) return *why = "the vertex's '" + p.name + "' must not be a list", false;
        p.use = p.name == "x" ? role::x : p.name == "y" ? role::y : role::z;
    } else if (here == h_->face && (p.name == "vertex_indices" || p.name == "vertex_index")) {
        if (!p.list) return *why = "the face's '" + p.name + "' must be a list", false;
        if (!is_integer(p.type)) return *why = "vertex indices must be of an integer type", false;
        p.use = role::corners;
    }
    for (const property& q : e.properties)
        if (q.name == p.name || (p.use == role::corners && q.use == role::corners))
            return *why = "a second '" + p.name + "' property", false;
    e.properties.push_back(std::move(p));
    return true;
}

bool header_reader::check(long long end_line, long long* bad_line, std::string* why) const {
    *bad_line = end_line;
    if (!has_format_) return *why = "the header has no format line", false;
    if (h_->vertex >= 0) {
        const element& v = h_->elements[static_cast<std::size_t>(h_->vertex)];
        for (role r : {role::x, role::y, role::z}) {
            bool found = false;
            for (const property& p : v.properties) found = found || p.use == r;
            if (!found) return *bad_line = v.line, *why = std::string("the vertex element has no '") + role_name(r) + "' property", false;
        }
    }
    if (h_->face >= 0) {
        const element& f = h_->elements[static_cast<std::size_t>(h_->face)];
        bool found = false;
        for (const property& p : f.properties) found = found || p.use == role::corners;
        if (!found) return *bad_line = f.line, *why = "the face element has no 'vertex_indices' list", false;
    }
    return true;
}

}  // namespace

bool read_header(text_lines& text, const char* name, header* h, std::string* error) {
    const char* begin = nullptr;
    const char* end = nullptr;
    if (!text.next(&begin, &end) || std::string(begin, end) != "ply") {
        *error = text.failed() ? text.error() : line_message(name, 1, "not a PLY file (the first line is not 'ply')");
        return false;
    }
    h->ending = text.ending();
    header_reader reader(h);
    for (;;) {
        if (!text.next(&begin, &end)) {
            *error = text.failed() ? text.error() : line_message(name, text.line() + 1, "the file ends before 'end_header'");
            return false;
        }
        const std::vector<std::string> w = words_of(begin, end);
        if (w.size() == 1 && w[0] == "end_header") break;
        std::string why;
        const std::size_t elements = h->elements.size();
        if (!reader.take(w, &why)) {
            *error = line_message(name, text.line(), why);
            return false;
        }
        if (h->elements.size() > elements) h->elements.back().line = text.line();
    }
    long long bad_line = 0;
    std::string why;
    if (!reader.check(text.line(), &bad_line, &why)) {
        *error = line_message(name, bad_line, why);
        return false;
    }
    // Binary data starts right after the line end, which must be the one
    // the "ply" line has: a lone CR followed by a byte 10 would be unclear.
    if (h->data_format != format::ascii && text.ending() != h->ending && text.ending() != line_end::none) {
        *error = line_message(name, text.line(), "the end_header line must end as the 'ply' line does");
        return false;
    }
    text.finish_line();
    return true;
}

long long least_data_bytes(const header& h) {
    const bool ascii = h.data_format == format::ascii;
    long long total = 0;
    for (const element& e : h.elements) {
        // The ASCII reader steps over the lines of elements it does not
        // use without reading them, so each of those may be a bare line end.
        const long long index = &e - h.elements.data();
        const bool unread = ascii && index != h.vertex && index != h.face;
        long long record = 0;
        if (!unread)
            for (const property& p : e.properties) {
                // A number in ASCII is one character and a blank or a line end.
                const long long items = p.use == role::corners ? 3 : 0;
                if (ascii) record += 2 * (1 + (p.list ? items : 0));
                else record += p.list ? scalar_size(p.count_type) + items * scalar_size(p.type) : scalar_size(p.type);
            }
        if (ascii && record == 0) record = 1;  // an empty line
        if (e.count > 0 && record > (LLONG_MAX - total) / e.count) return LLONG_MAX;
        total += e.count * record;
    }
    // The last line of an ASCII file may lack its line end.
    return ascii && total > 0 ? total - 1 : total;
}

}  // namespace ply
