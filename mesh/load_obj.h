#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "mesh/mesh.h"

// Every coordinate is multiplied by this on loading: the meshes come in
// metres, the scene is laid out in units of a fifth of a millimetre.
constexpr float obj_scale = 5000.0f;

// Parses OBJ text held in memory (`data` need not be NUL-terminated) into
// `m`, scaling every vertex. Prints nothing. On success returns true with
// all three arrays allocated at their exact sizes (`m`'s old arrays are not
// freed). On a rejected file returns false, leaves `m` untouched and sets
// `error` to "NAME:LINE: what is wrong" for the first bad line.
//
// Accepted subset: "v x y z" lines (first word exactly "v", anything after
// the third number ignored) take the vertex slots 1, 2, 3, ...; "f" lines
// list three or more corners `i`, `i/t`, `i//n` or `i/t/n`, whose decimal
// vertex index counts from 1, or back from the last vertex line above the
// face when negative; a polygon becomes the fan (1, k, k+1). Every other
// line is ignored.
bool parse_obj(const char* data, std::size_t size, const char* name, mesh* m, std::string* error);

// The nine progress lines of a finished load, on standard output.
void print_obj_report(const mesh& m);

// Reads the whole stream, closes it, parses it as `name` and, if the file
// is accepted, prints the progress lines. Returns false (nothing printed,
// `error` set as for parse_obj) when the file is rejected or unreadable.
bool load_obj(std::FILE* stream, mesh* m, const char* name, std::string* error);

// Frees the three arrays of a loaded mesh and resets its counts to -1.
void release_mesh(mesh* m);
