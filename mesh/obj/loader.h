#pragma once

// One load of OBJ text from an input. The text is read in units of whole
// lines (text.h); each thread parses the units it reads on its own
// (block.h), then takes them into the mesh at their turn, in file order
// (turns.h, merge.h). A line longer than a block is read and taken in at
// its turn, piece by piece.

#include <cstddef>
#include <string>

#include "mesh/mesh.h"
#include "mesh/obj/input.h"

namespace obj {

// Reads `in` to its end into `m`, as parse_obj describes (load_obj.h).
bool read_obj(input& in, const char* name, mesh* m, std::string* error, std::size_t block, int threads);

}  // namespace obj
