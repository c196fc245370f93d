#pragma once

// Meshes for the scale benchmark: made from scratch or derived from a loaded
// mesh file, and written back in metres for the loader, as OBJ, PLY or STL. All of
// them sit where the bunny sits in the built-in scene, so the same camera,
// light and floor frame them.

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <vector>

#include "mesh/mesh.h"

struct point3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// Faces of three or more corners (0-based vertex slots), laid end to end:
// face k owns corners[face_start[k] .. face_start[k + 1]). Coordinates are
// in metres, as in the file.
struct poly_mesh {
    std::vector<point3> vertices;
    std::vector<std::int32_t> corners;
    std::vector<std::int64_t> face_start{0};

    std::int64_t face_count() const { return static_cast<std::int64_t>(face_start.size()) - 1; }
    // What the loader makes of it: each polygon becomes a fan of n - 2.
    std::int64_t triangle_count() const;
    void add_face(std::initializer_list<std::int32_t> face);
    void add_face(const std::int32_t* face, int n);
};

// The bunny's place in the scene, in metres: meshes made from scratch are
// fitted into this box (the floor is at y = 0.034).
struct place_box {
    point3 lo{-0.095, 0.034, -0.062};
    point3 hi{0.061, 0.187, 0.059};
};

// The loaded mesh back in metres (the loader scales by mesh_scale).
poly_mesh from_loaded(const mesh& m);

// Splits every triangle into four at its edge midpoints, `times` times. A
// midpoint is made once per edge and shared by the triangles on either side,
// so a closed mesh stays closed; every new triangle keeps its parent's
// winding. Deterministic: the original vertices come first, then the
// midpoints in the order the faces first reach them. Triangles only.
poly_mesh subdivide(const poly_mesh& m, int times);

// A CAD export of a cylinder standing on the floor: `segments` quads round
// the side (4-corner faces) and each cap one polygon of `segments` corners,
// which the loader fans from its first corner into long slivers.
poly_mesh make_cylinder(int segments);

// A slicer's print bed: a thin plate lying on the floor with twelve slots
// through it, all triangles, its faces ear-clipped the way STL exporters cut
// a face with holes (each slot bridged to the plate's edge), so most
// triangles are long slivers. Closed and consistently wound.
poly_mesh make_platform();

// Adds one triangle with 1 m legs, `distance` metres from the centre of the
// mesh's box along +x (behind it, seen from the camera).
void add_outlier(poly_mesh& m, double distance);

// Squashes the mesh onto a vertical line through the centre of its box:
// x and z are scaled by `factor` about the centre, y is kept. A small
// factor leaves extreme slivers that are still not collinear.
void flatten(poly_mesh& m, double factor);

// Every face followed by its reversed copy, the same corners in the other
// order from the same first corner, (v0, v(n-1), ..., v1): once fanned,
// each triangle has a twin facing the other way, as the groups of a
// double-sided CAD or game mesh do.
poly_mesh two_sided(const poly_mesh& m);

// Writes "v" lines (each coordinate the shortest text that reads back as the
// same float) and "f" lines with 1-based indices, preceded by one comment
// line. Returns false on a write error.
bool write_obj(const poly_mesh& m, std::FILE* out, const char* comment);

// The same mesh as PLY: float x, y, z and the faces as they are (lists of
// 0-based int indices, counted in uchar, or in uint when a face has more
// than 255 corners), with `comment` in the header.
enum class ply_encoding { ascii, binary_little_endian, binary_big_endian };
bool write_ply(const poly_mesh& m, std::FILE* out, ply_encoding encoding, const char* comment);

// The same mesh as STL, ASCII or binary: every face fanned into triangles
// as the loader fans it, each with its unit normal (0 when degenerate).
// The name of an ASCII solid and the binary header hold `comment`; the
// binary header never starts with "solid".
bool write_stl(const poly_mesh& m, std::FILE* out, bool binary, const char* comment);
