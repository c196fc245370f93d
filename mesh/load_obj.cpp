#include "mesh/load_obj.h"

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include <sys/mman.h>
#include <sys/stat.h>

// The file is read once into memory and walked in three quick passes: count
// (so every array is allocated once at its exact size), parse and check in
// file order (so the first bad line is the one reported), then resolve the
// faces once every vertex is known (faces may name later vertices). Floats
// go through strtof, the conversion scanf's %f uses, so they are the very
// floats a line-by-line scanf loader would produce.

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// One line of the text, without its '\n'.
struct line_view {
    const char* begin;
    const char* end;
};

const char* skip_blanks(const char* p, const char* end) {
    while (p < end && is_blank(*p)) ++p;
    return p;
}

const char* word_end(const char* p, const char* end) {
    while (p < end && !is_blank(*p)) ++p;
    return p;
}

enum class line_kind { other, vertex, face };

// Classifies a line by its first word and returns where the rest begins.
line_kind classify(const line_view& line, const char** rest) {
    const char* p = skip_blanks(line.begin, line.end);
    const char* e = word_end(p, line.end);
    *rest = e;
    if (e - p != 1) return line_kind::other;
    if (*p == 'v') return line_kind::vertex;
    if (*p == 'f') return line_kind::face;
    return line_kind::other;
}

// Walks the lines of [data, data + size), numbering them from 1.
template <typename visit>
bool for_each_line(const char* data, std::size_t size, visit&& f) {
    const char* p = data;
    const char* const end = data + size;
    long number = 0;
    while (p < end) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        const char* line_end = nl ? nl : end;
        ++number;
        if (!f(line_view{p, line_end}, number)) return false;
        p = nl ? nl + 1 : end;
    }
    return true;
}

// Corners of a face line: the words up to the end or up to a comment.
long count_corners(const char* p, const char* end) {
    long corners = 0;
    for (;;) {
        p = skip_blanks(p, end);
        if (p == end || *p == '#') return corners;
        p = word_end(p, end);
        ++corners;
    }
}

// A word shown in an error message: printable, and short enough to read.
std::string printable(const char* begin, const char* end) {
    constexpr std::ptrdiff_t shown = 32;
    std::string s;
    for (const char* p = begin; p < end && p - begin < shown; ++p)
        s += (*p >= 0x20 && *p < 0x7f) ? *p : '?';
    if (end - begin > shown) s += "...";
    return s;
}

std::string quoted(const char* begin, const char* end) { return "'" + printable(begin, end) + "'"; }

// A float must fill its whole word.
enum class number_status { ok, not_a_number, not_finite };

// Plain decimals with at most 24 bits of digits and at most ten of them
// after the point (every coordinate of a typical scan) take a shortcut: the
// digits and the power of ten are both exact floats, so one IEEE division
// rounds the exact quotient once, which is the correctly rounded float that
// strtof returns too. Anything else goes to strtof.
bool parse_simple_decimal(const char* p, const char* end, float* out) {
    static const float powers_of_ten[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    std::uint32_t digits = 0;
    int decimals = -1;   // -1 until the point is seen
    int digit_count = 0;
    for (; p < end; ++p) {
        if (*p >= '0' && *p <= '9') {
            digits = digits * 10 + static_cast<std::uint32_t>(*p - '0');
            if (digits > (1u << 24)) return false;
            ++digit_count;
            if (decimals >= 0 && ++decimals > 10) return false;
        } else if (*p == '.' && decimals < 0) {
            decimals = 0;
        } else {
            return false;
        }
    }
    if (digit_count == 0) return false;
    const float value = static_cast<float>(digits) / powers_of_ten[decimals < 0 ? 0 : decimals];
    *out = negative ? -value : value;
    return true;
}

number_status parse_float(const char* begin, const char* end, float* out) {
    if (parse_simple_decimal(begin, end, out)) return number_status::ok;
    // strtof wants a terminated string; the text is not terminated (it may
    // be a mapped file), so the word is copied out first.
    const std::size_t length = static_cast<std::size_t>(end - begin);
    char small[64];
    std::string large;
    char* word = small;
    if (length >= sizeof small) {
        large.assign(begin, end);
        word = &large[0];
    } else {
        std::memcpy(small, begin, length);
        small[length] = '\0';
    }
    char* stop = nullptr;
    const float value = std::strtof(word, &stop);
    if (stop != word + length || length == 0) return number_status::not_a_number;
    if (!std::isfinite(value)) return number_status::not_finite;
    *out = value;
    return number_status::ok;
}

// An optionally signed decimal integer at p; saturates far beyond any vertex
// count instead of overflowing. Returns the first character after it, or
// null if there are no digits.
const char* parse_decimal(const char* p, const char* end, long long* out) {
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    const char* digits = p;
    long long value = 0;
    constexpr long long cap = 1LL << 40;
    while (p < end && *p >= '0' && *p <= '9') {
        if (value < cap) value = value * 10 + (*p - '0');
        ++p;
    }
    if (p == digits) return nullptr;
    *out = negative ? -value : value;
    return p;
}

// One corner group: i, i/t, i//n or i/t/n. Only the vertex index is kept;
// `index_end` is where its digits end.
bool parse_corner(const char* p, const char* end, long long* index, const char** index_end) {
    p = parse_decimal(p, end, index);
    if (!p) return false;
    *index_end = p;
    if (p == end) return true;
    if (*p++ != '/') return false;
    long long ignored = 0;
    if (p < end && *p == '/') return (p = parse_decimal(p + 1, end, &ignored)) && p == end;
    p = parse_decimal(p, end, &ignored);
    if (!p) return false;
    if (p == end) return true;
    if (*p++ != '/') return false;
    p = parse_decimal(p, end, &ignored);
    return p && p == end;
}

struct counts {
    long long vertices = 0;
    long long faces = 0;
};

counts count_lines(const char* data, std::size_t size) {
    counts c;
    for_each_line(data, size, [&](const line_view& line, long) {
        const char* rest = nullptr;
        switch (classify(line, &rest)) {
        case line_kind::vertex: ++c.vertices; break;
        case line_kind::face: {
            const long corners = count_corners(rest, line.end);
            if (corners >= 3) c.faces += corners - 2;
            break;
        }
        case line_kind::other: break;
        }
        return true;
    });
    return c;
}

// A load in progress. Its arrays are freed unless handed to the mesh.
struct parse_state {
    const char* name = "";
    std::string* error = nullptr;
    int vertex_count = 0;
    int face_count = 0;
    std::unique_ptr<vector3[]> vertices;
    std::unique_ptr<face_corners[]> faces;
    int vertices_read = 0;
    int faces_read = 0;
    bool forward_reference = false;   // a face named a vertex not read yet
    bool all_vertices_known = false;  // set for the second walk

    bool fail(long line, const std::string& what) {
        if (error) *error = std::string(name) + ":" + std::to_string(line) + ": " + what;
        return false;
    }

    bool vertex_line(const char* p, const char* end, long line) {
        float xyz[3];
        for (float& value : xyz) {
            p = skip_blanks(p, end);
            if (p == end) return fail(line, "vertex line needs three numbers");
            const char* e = word_end(p, end);
            switch (parse_float(p, e, &value)) {
            case number_status::ok: break;
            case number_status::not_a_number: return fail(line, quoted(p, e) + " is not a number");
            case number_status::not_finite: return fail(line, quoted(p, e) + " is not a finite number");
            }
            value *= obj_scale;
            if (!std::isfinite(value)) return fail(line, quoted(p, e) + " is too large to scale by 5000");
            p = e;
        }
        if (vertices_read >= vertex_count) return fail(line, "internal error: more vertices than counted");
        vertices[static_cast<std::size_t>(vertices_read++)] = vector3{xyz[0], xyz[1], xyz[2]};
        return true;
    }

    // Resolves a 1-based or negative index to an array index, or reports
    // why it names no vertex.
    bool resolve(long long index, const std::string& text, long line, int* out) {
        if (index == 0) return fail(line, "vertex index " + text + " names no vertex (indices start at 1)");
        const long long slot = index > 0 ? index - 1 : vertices_read + index;
        if (index > 0 && slot >= vertex_count)
            return fail(line, "vertex index " + text + " names no vertex (the file has " +
                                  std::to_string(vertex_count) + ")");
        if (index < 0 && slot < 0)
            return fail(line, "vertex index " + text + " names no vertex (" + std::to_string(vertices_read) +
                                  " above this line)");
        *out = static_cast<int>(slot);
        return true;
    }

    // Corners P, Q, R in the order the line names them: that order decides
    // which side of the triangle faces out.
    void fill_face(int k, int a, int b, int c) {
        faces[static_cast<std::size_t>(k)] = face_corners{{a, b, c}};
    }

    // A polygon becomes the fan (1, k, k+1). A triangle is filled at once
    // when its corners are known; otherwise it waits for the second walk.
    bool face_line(const char* p, const char* end, long line) {
        int first = 0, previous = 0;
        long corners = 0;
        for (;;) {
            p = skip_blanks(p, end);
            if (p == end || *p == '#') break;
            const char* e = word_end(p, end);
            long long index = 0;
            const char* index_end = p;
            if (!parse_corner(p, e, &index, &index_end))
                return fail(line, quoted(p, e) + " is not a face corner (i, i/t, i//n or i/t/n, decimal)");
            int slot = 0;
            if (!resolve(index, printable(p, index_end), line, &slot)) return false;
            if (corners == 0) {
                first = slot;
            } else if (corners >= 2) {
                if (faces_read >= face_count) return fail(line, "internal error: more faces than counted");
                const int known = all_vertices_known ? vertex_count : vertices_read;
                if (first < known && previous < known && slot < known)
                    fill_face(faces_read, first, previous, slot);
                else
                    forward_reference = true;
                ++faces_read;
            }
            previous = slot;
            ++corners;
            p = e;
        }
        if (corners < 3) return fail(line, "face needs at least three corners");
        return true;
    }

    // One walk over the text in file order; the first bad line ends it.
    bool walk(const char* data, std::size_t size) {
        vertices_read = 0;
        faces_read = 0;
        const bool ok = for_each_line(data, size, [&](const line_view& line, long number) {
            const char* rest = nullptr;
            switch (classify(line, &rest)) {
            case line_kind::vertex: return vertex_line(rest, line.end, number);
            case line_kind::face: return face_line(rest, line.end, number);
            case line_kind::other: return true;
            }
            return true;
        });
        if (!ok) return false;
        if (vertices_read != vertex_count || faces_read != face_count)
            return fail(1, "internal error: the passes disagree");
        return true;
    }
};

bool parse_text(const char* data, std::size_t size, const char* name, mesh* m, std::string* error) {
    parse_state s;
    s.name = name;
    s.error = error;

    const counts c = count_lines(data, size);
    if (c.vertices > INT_MAX) return s.fail(1, "more than " + std::to_string(INT_MAX) + " vertices");
    if (c.faces > INT_MAX) return s.fail(1, "more than " + std::to_string(INT_MAX) + " faces");
    s.vertex_count = static_cast<int>(c.vertices);
    s.face_count = static_cast<int>(c.faces);
    s.vertices.reset(new vector3[static_cast<std::size_t>(s.vertex_count)]);
    s.faces.reset(new face_corners[static_cast<std::size_t>(s.face_count)]());

    if (!s.walk(data, size)) return false;
    // Faces that named later vertices: walk again, now that every vertex is
    // known (the file was checked whole, so this walk cannot fail).
    if (s.forward_reference) {
        s.all_vertices_known = true;
        if (!s.walk(data, size)) return false;
    }

    m->vertex_count = s.vertex_count;
    m->face_count = s.face_count;
    m->vertices = s.vertices.release();
    m->faces = s.faces.release();
    return true;
}

}  // namespace

bool parse_obj(const char* data, std::size_t size, const char* name, mesh* m, std::string* error) {
    return parse_text(data, size, name, m, error);
}

void print_obj_report(const mesh& m) {
    std::printf("\t\tfound %i verts \n", m.vertex_count);
    std::printf("\t\tfound %i faces \n", m.face_count);
    std::printf("\t\tscaling object: \n");
    std::printf("\n");
    std::printf("\n");
    // The maximum starts at the lowest float, so a mesh lying wholly below
    // y = 0 still reports its real top.
    float max_y = std::numeric_limits<float>::lowest();
    float min_y = FLT_MAX;
    for (int i = 0; i < m.vertex_count; ++i) {
        const float y = m.vertices[i].y;
        if (y < min_y) min_y = y;
        if (y > max_y) max_y = y;
    }
    std::printf("\t\tmax y = %f \n", static_cast<double>(max_y));
    std::printf("\t\tmin y = %f \n", static_cast<double>(min_y));
    std::printf("\t\t\tallocated mem\n");
    std::printf("\t\t\tcalculating normals, v_normals\n");
}

namespace {

// The whole stream in memory: a regular file is mapped (its pages come
// straight from the page cache, with no copy), anything else is read.
struct file_text {
    const char* data = nullptr;
    std::size_t size = 0;
    void* mapping = nullptr;
    std::vector<char> buffer;

    ~file_text() {
        if (mapping) munmap(mapping, size);
    }

    bool read(std::FILE* stream) {
        struct stat info;
        const int fd = fileno(stream);
        if (fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
            std::ftell(stream) == 0) {
            void* p = mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
            if (p != MAP_FAILED) {
                mapping = p;
                data = static_cast<const char*>(p);
                size = static_cast<std::size_t>(info.st_size);
                return true;
            }
        }
        char chunk[1 << 14];
        std::size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, stream)) > 0) buffer.insert(buffer.end(), chunk, chunk + got);
        data = buffer.data();
        size = buffer.size();
        return std::ferror(stream) == 0;
    }
};

}  // namespace

bool load_obj(std::FILE* stream, mesh* m, const char* name, std::string* error) {
    file_text text;
    const bool read = text.read(stream);
    const int read_errno = errno;
    std::fclose(stream);
    if (!read) {
        if (error) *error = std::string("cannot read ") + name + ": " + std::strerror(read_errno);
        return false;
    }
    if (!parse_text(text.data, text.size, name, m, error)) return false;
    print_obj_report(*m);
    return true;
}

void release_mesh(mesh* m) {
    delete[] m->vertices;
    delete[] m->faces;
    m->vertices = nullptr;
    m->faces = nullptr;
    m->vertex_count = -1;
    m->face_count = -1;
}
