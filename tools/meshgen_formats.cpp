// The generator's PLY and STL writers (meshgen.h). Coordinates go out as
// the floats write_obj's text reads back as, so every format of one mesh
// loads as the same triangles.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "tools/meshgen.h"
#include "tools/out_buffer.h"

namespace {

float as_float(double c) { return static_cast<float>(c); }

// Calls f(a, b, c) for the fan (1, k, k+1) of every face, as the loader
// splits a polygon.
template <typename F>
void for_each_triangle(const poly_mesh& m, const F& f) {
    for (std::int64_t k = 0; k < m.face_count(); ++k) {
        const std::size_t begin = static_cast<std::size_t>(m.face_start[static_cast<std::size_t>(k)]);
        const std::size_t end = static_cast<std::size_t>(m.face_start[static_cast<std::size_t>(k) + 1]);
        for (std::size_t i = begin + 2; i < end; ++i) f(m.corners[begin], m.corners[i - 1], m.corners[i]);
    }
}

// The unit normal of a triangle of float corners, or 0 for a degenerate one.
point3 unit_normal(const point3& a, const point3& b, const point3& c) {
    const double ux = as_float(b.x) - as_float(a.x), uy = as_float(b.y) - as_float(a.y), uz = as_float(b.z) - as_float(a.z);
    const double vx = as_float(c.x) - as_float(a.x), vy = as_float(c.y) - as_float(a.y), vz = as_float(c.z) - as_float(a.z);
    point3 n{uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx};
    const double length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
    if (length > 0.0) n = {n.x / length, n.y / length, n.z / length};
    return n;
}

}  // namespace

bool write_ply(const poly_mesh& m, std::FILE* out, ply_encoding encoding, const char* comment) {
    out_buffer w(out);
    std::int64_t most_corners = 0;
    for (std::int64_t k = 0; k < m.face_count(); ++k)
        most_corners = std::max(most_corners, m.face_start[static_cast<std::size_t>(k) + 1] - m.face_start[static_cast<std::size_t>(k)]);
    const bool wide_counts = most_corners > 255;
    const bool big = encoding == ply_encoding::binary_big_endian;
    w.text("ply\nformat ");
    w.text(encoding == ply_encoding::ascii ? "ascii" : big ? "binary_big_endian" : "binary_little_endian");
    w.text(" 1.0\ncomment ");
    w.text(comment);
    w.text("\nelement vertex ");
    w.integer(static_cast<long long>(m.vertices.size()));
    w.text("\nproperty float x\nproperty float y\nproperty float z\nelement face ");
    w.integer(m.face_count());
    w.text(wide_counts ? "\nproperty list uint int vertex_indices\nend_header\n" : "\nproperty list uchar int vertex_indices\nend_header\n");
    for (const point3& p : m.vertices) {
        const double xyz[3] = {p.x, p.y, p.z};
        for (int a = 0; a < 3; ++a) {
            if (encoding != ply_encoding::ascii) {
                w.value(as_float(xyz[a]), big);
                continue;
            }
            w.number(as_float(xyz[a]));
            w.ch(a == 2 ? '\n' : ' ');
        }
    }
    for (std::int64_t k = 0; k < m.face_count(); ++k) {
        const std::int64_t begin = m.face_start[static_cast<std::size_t>(k)], end = m.face_start[static_cast<std::size_t>(k) + 1];
        if (encoding == ply_encoding::ascii) {
            w.integer(end - begin);
            for (std::int64_t i = begin; i < end; ++i) {
                w.ch(' ');
                w.integer(m.corners[static_cast<std::size_t>(i)]);
            }
            w.ch('\n');
            continue;
        }
        if (wide_counts) w.value(static_cast<std::uint32_t>(end - begin), big);
        else w.value(static_cast<std::uint8_t>(end - begin), big);
        for (std::int64_t i = begin; i < end; ++i) w.value(m.corners[static_cast<std::size_t>(i)], big);
    }
    return w.finish();
}

bool write_stl(const poly_mesh& m, std::FILE* out, bool binary, const char* comment) {
    out_buffer w(out);
    if (binary) {
        // A header that does not start with "solid", for readers that go
        // by that alone.
        char header[80] = {};
        std::snprintf(header, sizeof header, "binary STL: %s", comment);
        w.bytes(header, sizeof header);
        w.value(static_cast<std::uint32_t>(m.triangle_count()), false);
    } else {
        w.text("solid ");
        w.text(comment);
        w.ch('\n');
    }
    for_each_triangle(m, [&](std::int32_t a, std::int32_t b, std::int32_t c) {
        const point3* corner[3] = {&m.vertices[static_cast<std::size_t>(a)], &m.vertices[static_cast<std::size_t>(b)],
                                   &m.vertices[static_cast<std::size_t>(c)]};
        const point3 n = unit_normal(*corner[0], *corner[1], *corner[2]);
        if (binary) {
            for (const double v : {n.x, n.y, n.z}) w.value(as_float(v), false);
            for (const point3* p : corner)
                for (const double v : {p->x, p->y, p->z}) w.value(as_float(v), false);
            w.value(std::uint16_t{0}, false);
            return;
        }
        w.text("  facet normal");
        for (const double v : {n.x, n.y, n.z}) {
            w.ch(' ');
            w.number(as_float(v));
        }
        w.text("\n    outer loop\n");
        for (const point3* p : corner) {
            w.text("      vertex");
            for (const double v : {p->x, p->y, p->z}) {
                w.ch(' ');
                w.number(as_float(v));
            }
            w.ch('\n');
        }
        w.text("    endloop\n  endfacet\n");
    });
    if (!binary) {
        w.text("endsolid ");
        w.text(comment);
        w.ch('\n');
    }
    return w.finish();
}
