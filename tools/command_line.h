#pragma once

#include <string>
#include <vector>

#include "world/fit.h"

// The command lines of the companion programs: flags, and options whose
// value follows as the next argument ("--mesh PATH") or after an equals
// sign ("--mesh=PATH").

// One argument read: the option's `name` as listed, its `value` ("" for a
// flag) and the argument as given.
struct argument {
    std::string name;
    std::string value;
    std::string text;
};

// Reads argv[*i], and the value after it when it takes one (moving *i on to
// it). Returns "" with `a` filled, or why it is refused: an argument that is
// none of `flags` and `valued`, a value missing at the end, or an empty one.
std::string read_argument(int argc, char** argv, int* i, const std::vector<std::string>& flags,
                          const std::vector<std::string>& valued, argument* a);

// What the programs that build the scene take from --mesh PATH, --fit and
// --up AXIS: the mesh file and how it is placed (world/fit.h).
struct mesh_options {
    std::string mesh = "bunny.obj";
    mesh_placement placement;
};
extern const std::vector<std::string> mesh_flags;   // --fit
extern const std::vector<std::string> mesh_valued;  // --mesh, --up

// Takes `a` into `o` when it is one of the mesh options: true, with `why`
// empty or saying why its value is refused. False for any other option.
bool take_mesh_option(const argument& a, mesh_options* o, std::string* why);

// True when `output` names the very file `mesh` names (the same device and
// inode, whatever the names, links or symbolic links): a picture written
// there would replace the mesh.
bool same_file(const char* mesh, const char* output);
