#pragma once

// The STL reader, ASCII and binary: each facet a triangle with its corners
// in the order written; facet normals and attribute bytes are ignored. STL
// shares no vertices, so the mesh holds three vertices per triangle.
//
// A rejected file leaves the mesh untouched and sets `error` to one line:
// "NAME:LINE: what" for ASCII, "NAME: byte N: what" for binary.

#include <cstddef>
#include <string>

#include "mesh/input/block_reader.h"
#include "mesh/input/memory_reading.h"
#include "mesh/mesh.h"

enum class stl_kind { none, ascii, binary };

// What the first `n` bytes of a file (at least 84 of them when it has
// that many) and its size (-1 when unknown) say it is. Binary: a file of
// exactly 84 + 50 x N bytes, N the count at bytes 80 to 83; or, whatever
// its size, one whose first 84 bytes hold a NUL byte and N > 0. ASCII:
// otherwise, a file whose first word is "solid".
stl_kind stl_kind_of(const char* head, std::size_t n, long long size);

// Reads the file `in` stands at the start of into `m` (both arrays
// allocated as release_mesh frees them). Prints nothing.
bool read_stl(block_reader& in, stl_kind kind, const char* name, mesh* m, std::string* error,
              const run_tuning& runs = {});

// The same from memory, read the way `how` says; a file that is not
// binary STL is read as ASCII.
bool parse_stl(const char* data, std::size_t size, const char* name, mesh* m, std::string* error,
               const memory_reading& how = {});
