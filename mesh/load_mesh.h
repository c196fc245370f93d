#pragma once

// Mesh files in every format the program reads. PLY and STL are known by
// their first bytes, never by their name; anything else is read as OBJ,
// exactly as load_obj reads it.

#include <cstddef>
#include <string>

#include "mesh/mesh.h"

enum class mesh_format { obj, ply, stl_ascii, stl_binary };

// How many first bytes mesh_format_of looks at.
constexpr std::size_t mesh_format_head = 512;

// The format the first `n` bytes of a file (mesh_format_head of them, or
// the whole file when it is shorter) and its size (-1 when unknown) say it
// is in: PLY when it starts with "ply" and a line end; STL as
// stl_kind_of says (load_stl.h); OBJ otherwise.
mesh_format mesh_format_of(const char* head, std::size_t n, long long size);

// Loads the mesh file at `path` (a file, a pipe, a device) into `m`.
// Success prints the nine progress lines; failure prints nothing, leaves
// `m` untouched and sets `error` to one line: "cannot open PATH: why",
// "cannot read PATH: why", or the reader's own message.
bool load_mesh_file(const char* path, mesh* m, std::string* error);

// The same without the progress lines, for the tools. An OBJ file is read
// into memory whole first.
bool read_mesh_file(const char* path, mesh* m, std::string* error);
