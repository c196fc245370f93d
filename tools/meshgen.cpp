#include "tools/meshgen.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "mesh/mesh.h"
#include "tools/out_buffer.h"

namespace {

constexpr double pi = 3.14159265358979323846;

double dot(const point3& a, const point3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Newell's normal: robust for the long slivers of a fanned n-gon, where the
// first three corners are nearly collinear.
point3 polygon_normal(const poly_mesh& m, const std::vector<std::int32_t>& face) {
    point3 n;
    for (std::size_t i = 0; i < face.size(); ++i) {
        const point3& a = m.vertices[static_cast<std::size_t>(face[i])];
        const point3& b = m.vertices[static_cast<std::size_t>(face[(i + 1) % face.size()])];
        n.x += (a.y - b.y) * (a.z + b.z);
        n.y += (a.z - b.z) * (a.x + b.x);
        n.z += (a.x - b.x) * (a.y + b.y);
    }
    return n;
}

// Adds the face wound so that its front (the side the loader's normal
// points to) faces along `outward`; the first corner stays first, so the
// loader's fan is the same either way.
void add_facing(poly_mesh& m, std::vector<std::int32_t> face, const point3& outward) {
    if (dot(polygon_normal(m, face), outward) < 0.0) std::reverse(face.begin() + 1, face.end());
    m.add_face(face.data(), static_cast<int>(face.size()));
}

std::int32_t add_vertex(poly_mesh& m, const point3& p) {
    m.vertices.push_back(p);
    return static_cast<std::int32_t>(m.vertices.size() - 1);
}

point3 box_centre(const poly_mesh& m) {
    if (m.vertices.empty()) return {};
    point3 lo = m.vertices[0], hi = m.vertices[0];
    for (const point3& p : m.vertices) {
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    return {0.5 * (lo.x + hi.x), 0.5 * (lo.y + hi.y), 0.5 * (lo.z + hi.z)};
}

// Lifted off the floor a little: a face lying in the floor's plane would
// make every floor hit a tie.
constexpr double floor_gap = 0.0005;

}  // namespace

std::int64_t poly_mesh::triangle_count() const {
    std::int64_t n = 0;
    for (std::int64_t k = 0; k < face_count(); ++k) n += face_start[static_cast<std::size_t>(k) + 1] - face_start[static_cast<std::size_t>(k)] - 2;
    return n;
}

void poly_mesh::add_face(std::initializer_list<std::int32_t> face) {
    corners.insert(corners.end(), face.begin(), face.end());
    face_start.push_back(static_cast<std::int64_t>(corners.size()));
}

void poly_mesh::add_face(const std::int32_t* face, int n) {
    corners.insert(corners.end(), face, face + n);
    face_start.push_back(static_cast<std::int64_t>(corners.size()));
}

namespace {

// A float that the loader scales to exactly `scaled`, where there is one
// next to the quotient: the bunny written back then loads as the very same
// vertices, not ones an ulp off.
double metres_of(float scaled) {
    const float guess = scaled / mesh_scale;
    for (const float m : {guess, std::nextafter(guess, -INFINITY), std::nextafter(guess, INFINITY)})
        if (m * mesh_scale == scaled) return m;
    return guess;
}

}  // namespace

poly_mesh from_loaded(const mesh& m) {
    poly_mesh out;
    out.vertices.resize(static_cast<std::size_t>(std::max(m.vertex_count, 0)));
    for (std::size_t i = 0; i < out.vertices.size(); ++i) {
        const vector3& v = m.vertices[i];
        out.vertices[i] = {metres_of(v.x), metres_of(v.y), metres_of(v.z)};
    }
    const std::size_t faces = static_cast<std::size_t>(std::max(m.face_count, 0));
    out.corners.resize(3 * faces);
    out.face_start.resize(faces + 1);
    for (std::size_t k = 0; k < faces; ++k) {
        std::memcpy(&out.corners[3 * k], m.faces[k].vertex, sizeof m.faces[k].vertex);
        out.face_start[k + 1] = static_cast<std::int64_t>(3 * (k + 1));
    }
    return out;
}

poly_mesh subdivide(const poly_mesh& m, int times) {
    if (m.triangle_count() != m.face_count()) throw std::invalid_argument("subdivide: triangles only");
    poly_mesh current = m;
    for (int level = 0; level < times; ++level) {
        const std::size_t vertex_count = current.vertices.size();
        const std::size_t faces = static_cast<std::size_t>(current.face_count());
        const std::vector<std::int32_t>& c = current.corners;

        // Edges grouped by their lower vertex (counting sort), each group
        // short, so finding an edge's midpoint is a scan of a few entries
        // instead of a hash lookup over tens of millions.
        std::vector<std::int64_t> group(vertex_count + 1, 0);
        for (std::size_t i = 0; i < 3 * faces; ++i) {
            const std::int32_t a = c[i], b = c[i - i % 3 + (i + 1) % 3];
            ++group[static_cast<std::size_t>(std::min(a, b)) + 1];
        }
        for (std::size_t v = 0; v < vertex_count; ++v) group[v + 1] += group[v];
        std::vector<std::int32_t> other(3 * faces);
        std::vector<std::int32_t> midpoint(3 * faces, -1);
        std::vector<std::int64_t> fill(group.begin(), group.end() - 1);
        for (std::size_t i = 0; i < 3 * faces; ++i) {
            const std::int32_t a = c[i], b = c[i - i % 3 + (i + 1) % 3];
            other[static_cast<std::size_t>(fill[static_cast<std::size_t>(std::min(a, b))]++)] = std::max(a, b);
        }

        poly_mesh next;
        next.vertices = current.vertices;
        next.vertices.reserve(vertex_count + 3 * faces / 2 + 16);
        auto midpoint_of = [&](std::int32_t a, std::int32_t b) {
            const std::int32_t lo = std::min(a, b), hi = std::max(a, b);
            // The first entry for the edge holds its midpoint, whichever
            // face put it there.
            for (std::int64_t e = group[static_cast<std::size_t>(lo)]; e < group[static_cast<std::size_t>(lo) + 1]; ++e) {
                if (other[static_cast<std::size_t>(e)] != hi) continue;
                std::int32_t& id = midpoint[static_cast<std::size_t>(e)];
                if (id < 0) {
                    // Copies: adding the midpoint may move the vertices.
                    const point3 p = next.vertices[static_cast<std::size_t>(lo)];
                    const point3 q = next.vertices[static_cast<std::size_t>(hi)];
                    id = add_vertex(next, {0.5 * (p.x + q.x), 0.5 * (p.y + q.y), 0.5 * (p.z + q.z)});
                }
                return id;
            }
            throw std::logic_error("subdivide: edge not grouped");
        };

        next.corners.reserve(12 * faces);
        next.face_start.reserve(4 * faces + 1);
        for (std::size_t k = 0; k < faces; ++k) {
            const std::int32_t a = c[3 * k], b = c[3 * k + 1], d = c[3 * k + 2];
            const std::int32_t ab = midpoint_of(a, b), bd = midpoint_of(b, d), da = midpoint_of(d, a);
            next.add_face({a, ab, da});
            next.add_face({ab, b, bd});
            next.add_face({da, bd, d});
            next.add_face({ab, bd, da});
        }
        current = std::move(next);
    }
    return current;
}

poly_mesh make_cylinder(int segments) {
    const place_box box;
    const double radius = 0.5 * std::min(box.hi.x - box.lo.x, box.hi.z - box.lo.z);
    const double cx = 0.5 * (box.lo.x + box.hi.x), cz = 0.5 * (box.lo.z + box.hi.z);
    const double y0 = box.lo.y + floor_gap, y1 = box.hi.y;

    poly_mesh m;
    for (const double y : {y0, y1})
        for (int i = 0; i < segments; ++i) {
            const double a = 2.0 * pi * i / segments;
            add_vertex(m, {cx + radius * std::cos(a), y, cz + radius * std::sin(a)});
        }
    const std::int32_t n = segments;
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t j = (i + 1) % n;
        const double a = 2.0 * pi * (i + 0.5) / segments;
        add_facing(m, {i, j, n + j, n + i}, {std::cos(a), 0.0, std::sin(a)});
    }
    std::vector<std::int32_t> cap(static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) cap[static_cast<std::size_t>(i)] = i;
    add_facing(m, cap, {0.0, -1.0, 0.0});
    for (std::int32_t i = 0; i < n; ++i) cap[static_cast<std::size_t>(i)] = n + i;
    add_facing(m, cap, {0.0, 1.0, 0.0});
    return m;
}

namespace {

// Ear clipping of a simple polygon lying in a plane parallel to y = 0,
// counter-clockwise in (x, z), which may pass through a vertex twice (a
// bridge to a hole): how STL exporters cut a planar face into triangles,
// and why their output is full of long slivers. Deterministic.
std::vector<std::array<std::int32_t, 3>> ear_clip(const poly_mesh& m, const std::vector<std::int32_t>& polygon) {
    const std::size_t n = polygon.size();
    std::vector<std::size_t> prev(n), next(n);
    for (std::size_t i = 0; i < n; ++i) {
        prev[i] = (i + n - 1) % n;
        next[i] = (i + 1) % n;
    }
    auto at = [&](std::size_t i) -> const point3& { return m.vertices[static_cast<std::size_t>(polygon[i])]; };
    auto turn = [](const point3& a, const point3& b, const point3& c) {  // > 0: counter-clockwise in (x, z)
        return (b.x - a.x) * (c.z - a.z) - (b.z - a.z) * (c.x - a.x);
    };
    auto same = [](const point3& a, const point3& b) { return a.x == b.x && a.z == b.z; };
    auto is_ear = [&](std::size_t c) {
        const point3 &a = at(prev[c]), &b = at(c), &d = at(next[c]);
        if (turn(a, b, d) <= 0.0) return false;
        for (std::size_t q = next[next[c]]; q != prev[c]; q = next[q]) {
            const point3& p = at(q);
            if (same(p, a) || same(p, b) || same(p, d)) continue;
            if (turn(a, b, p) >= 0.0 && turn(b, d, p) >= 0.0 && turn(d, a, p) >= 0.0) return false;
        }
        return true;
    };

    std::vector<std::array<std::int32_t, 3>> triangles;
    std::size_t left = n, c = 0, tried = 0;
    while (left > 3) {
        if (is_ear(c)) {
            triangles.push_back({polygon[prev[c]], polygon[c], polygon[next[c]]});
            next[prev[c]] = next[c];
            prev[next[c]] = prev[c];
            c = next[c];
            --left;
            tried = 0;
        } else {
            c = next[c];
            if (++tried > left) throw std::logic_error("ear_clip: no ear left");
        }
    }
    triangles.push_back({polygon[prev[c]], polygon[c], polygon[next[c]]});
    return triangles;
}

}  // namespace

poly_mesh make_platform() {
    // 12 slots across the plate, each end a half circle of 62 segments:
    // 6,156 triangles.
    constexpr int slots = 12, arc = 62;
    constexpr double thickness = 0.004, r = 0.002, margin = 0.008;
    const place_box box;
    const double x0 = box.lo.x, x1 = box.hi.x, z0 = box.lo.z, z1 = box.hi.z;
    const double xs = x0 + margin + r, xe = x1 - margin - r;  // the straight part of every slot
    const double pitch = (z1 - z0) / slots;
    auto slot_z = [&](int i) { return z0 + (i + 0.5) * pitch; };

    poly_mesh m;
    // Per face: the outline counter-clockwise from (x0, z0), down the left
    // edge last; there each slot is joined to the edge by a bridge at its
    // height and run round clockwise, as a hole, from its leftmost point.
    std::vector<std::int32_t> outline[2], slot_loop[2][slots];
    for (int side = 0; side < 2; ++side) {
        const double y = box.lo.y + floor_gap + (side == 0 ? thickness : 0.0);
        std::vector<std::int32_t>& o = outline[side];
        for (const point3& p : {point3{x0, y, z0}, point3{x1, y, z0}, point3{x1, y, z1}, point3{x0, y, z1}})
            o.push_back(add_vertex(m, p));
        for (int i = slots - 1; i >= 0; --i) {
            // Counter-clockwise from the leftmost point: down the left end,
            // along the bottom, up the right end, back along the top.
            std::vector<std::int32_t>& loop = slot_loop[side][i];
            for (int k = 0; k <= arc; ++k) {
                const double t = pi * k / arc;
                loop.push_back(add_vertex(m, {xe + r * std::sin(t), y, slot_z(i) - r * std::cos(t)}));
            }
            for (int k = 0; k <= arc; ++k) {
                const double t = pi * k / arc;
                loop.push_back(add_vertex(m, {xs - r * std::sin(t), y, slot_z(i) + r * std::cos(t)}));
            }
            std::rotate(loop.begin(), loop.begin() + (arc + 1) + arc / 2, loop.end());
            const std::int32_t edge = add_vertex(m, {x0, y, slot_z(i)});
            o.push_back(edge);
            o.insert(o.end(), loop.rbegin() + static_cast<long>(loop.size()) - 1, loop.rend());
            o.insert(o.end(), loop.rbegin(), loop.rend());
            o.push_back(edge);
        }
    }
    for (int side = 0; side < 2; ++side) {
        const point3 out{0.0, side == 0 ? 1.0 : -1.0, 0.0};
        for (const auto& t : ear_clip(m, outline[side])) add_facing(m, {t[0], t[1], t[2]}, out);
    }
    auto quad = [&](std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d, const point3& outward) {
        add_facing(m, {a, b, c}, outward);
        add_facing(m, {a, c, d}, outward);
    };
    // The slots' walls face their own middle line.
    for (int i = 0; i < slots; ++i) {
        const std::vector<std::int32_t> &top = slot_loop[0][i], &bottom = slot_loop[1][i];
        for (std::size_t k = 0; k < top.size(); ++k) {
            const std::size_t n = (k + 1) % top.size();
            const point3& p = m.vertices[static_cast<std::size_t>(top[k])];
            const point3& q = m.vertices[static_cast<std::size_t>(top[n])];
            const double mx = 0.5 * (p.x + q.x), mz = 0.5 * (p.z + q.z);
            quad(top[k], top[n], bottom[n], bottom[k], {std::clamp(mx, xs, xe) - mx, 0.0, slot_z(i) - mz});
        }
    }
    // The rim: the outline's edges that are not bridges.
    const std::vector<std::int32_t> &top = outline[0], &bottom = outline[1];
    for (std::size_t k = 0; k < top.size(); ++k) {
        const std::size_t n = (k + 1) % top.size();
        const point3& p = m.vertices[static_cast<std::size_t>(top[k])];
        const point3& q = m.vertices[static_cast<std::size_t>(top[n])];
        const bool on_edge = (p.x == q.x && (p.x == x0 || p.x == x1)) || (p.z == q.z && (p.z == z0 || p.z == z1));
        if (!on_edge) continue;
        quad(top[k], top[n], bottom[n], bottom[k], {p.x == q.x ? (p.x == x0 ? -1.0 : 1.0) : 0.0, 0.0, p.z == q.z ? (p.z == z0 ? -1.0 : 1.0) : 0.0});
    }
    return m;
}

void add_outlier(poly_mesh& m, double distance) {
    const point3 c = box_centre(m);
    const std::int32_t a = add_vertex(m, {c.x + distance, c.y, c.z});
    const std::int32_t b = add_vertex(m, {c.x + distance, c.y + 1.0, c.z});
    const std::int32_t d = add_vertex(m, {c.x + distance, c.y, c.z + 1.0});
    m.add_face({a, b, d});
}

void flatten(poly_mesh& m, double factor) {
    const point3 c = box_centre(m);
    for (point3& p : m.vertices) {
        p.x = c.x + (p.x - c.x) * factor;
        p.z = c.z + (p.z - c.z) * factor;
    }
}

poly_mesh two_sided(const poly_mesh& m) {
    poly_mesh out;
    out.vertices = m.vertices;
    std::vector<std::int32_t> face;
    for (std::int64_t k = 0; k < m.face_count(); ++k) {
        const auto first = m.corners.begin() + m.face_start[static_cast<std::size_t>(k)];
        const auto last = m.corners.begin() + m.face_start[static_cast<std::size_t>(k) + 1];
        face.assign(first, last);
        out.add_face(face.data(), static_cast<int>(face.size()));
        std::reverse(face.begin() + 1, face.end());
        out.add_face(face.data(), static_cast<int>(face.size()));
    }
    return out;
}

bool write_obj(const poly_mesh& m, std::FILE* out, const char* comment) {
    out_buffer w(out);
    w.text("# ");
    w.text(comment);
    w.text("\n");
    for (const point3& p : m.vertices) {
        w.ch('v');
        for (const double c : {p.x, p.y, p.z}) {
            w.ch(' ');
            w.number(static_cast<float>(c));
        }
        w.ch('\n');
    }
    for (std::int64_t k = 0; k < m.face_count(); ++k) {
        w.ch('f');
        for (std::int64_t i = m.face_start[static_cast<std::size_t>(k)]; i < m.face_start[static_cast<std::size_t>(k) + 1]; ++i) {
            w.ch(' ');
            w.integer(static_cast<long long>(m.corners[static_cast<std::size_t>(i)]) + 1);
        }
        w.ch('\n');
    }
    return w.finish();
}
