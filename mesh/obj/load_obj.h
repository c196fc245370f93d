#pragma once

// Loading Wavefront OBJ meshes: the one public header of mesh/obj/.

#include <cstddef>
#include <cstdio>
#include <string>

#include "mesh/mesh.h"

// The text is read and parsed in blocks of this many bytes (lines longer
// than a block are parsed in pieces as they are read).
constexpr std::size_t obj_block_size = std::size_t{1} << 18;

// Parses OBJ text held in memory (`data` need not be NUL-terminated) into
// `m`, scaling every vertex. Prints nothing. On success returns true with
// both arrays allocated at their exact sizes (`m`'s old arrays are not
// freed; release_mesh frees the new ones). On a rejected file returns false,
// leaves `m` untouched and sets `error` to "NAME:LINE: what is wrong" for
// the first bad line (or "NAME: out of memory after N faces"). A line
// holding a NUL byte is bad, and nothing after it is read: an index above
// it naming a vertex that did not come before it is then bad too.
//
// Accepted text: lines end with LF, CR LF or CR; a UTF-8 byte-order mark at
// the start is skipped; UTF-16 and any NUL byte are refused. "v x y z" lines
// (first word exactly "v", anything after the third number ignored) take
// the vertex slots 1, 2, 3, ...; "f" lines list three or more corners `i`,
// `i/t`, `i//n` or `i/t/n`, whose decimal vertex index counts from 1, or
// back from the last vertex line above the face when negative; a polygon
// becomes the fan (1, k, k+1). Every other line is ignored.
//
// `threads` 0 means every hardware thread, up to four; the result never
// depends on it nor on `block_size`.
bool parse_obj(const char* data, std::size_t size, const char* name, mesh* m, std::string* error,
               std::size_t block_size = obj_block_size, int threads = 0);

// Reads the stream from where it stands to its end, in bounded memory,
// closes it, and, if the file is accepted, prints the progress lines.
// Returns false (nothing printed, `error` set as for parse_obj) when the
// file is rejected, or when reading fails ("cannot read NAME: why") before
// a bad line has decided it.
bool load_obj(std::FILE* stream, mesh* m, const char* name, std::string* error,
              std::size_t block_size = obj_block_size, int threads = 0);
