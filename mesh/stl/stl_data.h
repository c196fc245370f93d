#pragma once

// The two STL readers behind load_stl.h.

#include <string>

#include "mesh/input/mesh_arrays.h"
#include "mesh/input/record_runs.h"
#include "mesh/input/text_lines.h"

namespace stl {

// Each returns false with the message in `error`.
bool read_binary(block_reader& in, const char* name, mesh_arrays& arrays, std::string* error, const run_tuning& runs);
bool read_ascii(text_lines& text, const char* name, mesh_arrays& arrays, std::string* error);

// STL holds three vertices a triangle: at most this many triangles.
constexpr long long most_triangles = mesh_count_limit / 3;

}  // namespace stl
