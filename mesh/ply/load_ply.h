#pragma once

// The PLY reader: the header, then the data in ASCII or binary of either
// byte order. The mesh is the "vertex" element's x, y and z (any numeric
// type) and the "face" element's lists of vertex indices ("vertex_indices"
// or "vertex_index", any integer types), each polygon fanned from its first
// corner as an OBJ face is; every other element and property is stepped
// over, and anything after the last element is ignored.
//
// A rejected file leaves the mesh untouched and sets `error` to one line:
// "NAME:LINE: what" for the header and ASCII data, "NAME: byte N: what" for
// binary data (N counted from the start of the file). When the size of the
// file is known, a header that claims more data than the file holds is
// refused before anything is allocated.

#include <cstddef>
#include <string>

#include "mesh/input/block_reader.h"
#include "mesh/input/memory_reading.h"
#include "mesh/mesh.h"

// The first bytes of a PLY file: "ply" and a line end.
bool is_ply(const char* head, std::size_t n);

// Reads the file `in` stands at the start of into `m` (both arrays
// allocated as release_mesh frees them). Prints nothing.
bool read_ply(block_reader& in, const char* name, mesh* m, std::string* error, const run_tuning& runs = {});

// The same from memory, read the way `how` says.
bool parse_ply(const char* data, std::size_t size, const char* name, mesh* m, std::string* error,
               const memory_reading& how = {});
