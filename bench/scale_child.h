#pragma once

// One measured run of the scale table: a process that loads one mesh, builds
// something that traces it, puts that in the built-in scene in the mesh's
// place and renders the scene on all threads. Each run is a process of its
// own so that its peak memory (which the driver reads when it ends) holds
// that mesh and nothing else.
//
// The run reports on its standard output, one line per step, for the driver
// (scale_main.cpp); everything the library prints goes to /dev/null:
//   mesh TRIANGLES VERTICES FILE_BYTES
//   load SECONDS
//   build SECONDS
//   render SECONDS CLOCK_NS      (once per render; CLOCK_NS: steady clock at its end)
//   error WHAT                   (then exit status 1)

#include <string>

#include "mesh/mesh.h"
#include "scene/object.h"

// Builds the object that stands in the scene for `loaded`, taking the mesh
// over, and sets `seconds` to the time of the build proper. Returns null
// and sets `error` when it cannot.
using build_function = object* (*)(mesh* loaded, double* seconds, std::string* error);

// Runs the steps above for the mesh at `path`: `renders` renders, fewer
// once they have taken `render_budget` seconds together. The process ends
// here, without the teardown: freeing a mesh of millions of triangles
// measures nothing.
[[noreturn]] void run_scale_child(const char* path, int renders, double render_budget, build_function build);

// Only loads the mesh at `path`, as the program does (open, read, parse):
// reports the "mesh" and "load" lines, then ends.
[[noreturn]] void run_load_child(const char* path);

// Parses "MESH RENDERS BUDGET" from argv[first..]; false if malformed.
bool parse_child_arguments(int argc, char** argv, int first, const char** path, int* renders, double* budget);
