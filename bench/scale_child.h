#pragma once

// One measured run of the scale table: a process that loads one mesh, builds
// something that traces it, puts that in the built-in scene in the mesh's
// place and renders the scene. Each run is a process of its own so that its
// peak memory (which the driver reads when it ends) holds that mesh and
// nothing else.
//
//   MESH ROUNDS BUDGET [--renders KIND,...] [--variant NAME]
//
// Each round renders the picture once in each KIND, in the order given:
// "packets:T" or "single:T", the rays handed to the tracer sixteen at a
// time or one by one (render.h), on T threads (0: all); by default
// "packets:0". No round starts once the renders have taken BUDGET seconds.
// NAME picks a variant of the build (ours: auto, sah or morton; Embree's:
// medium or low); the default is the builder's own.
//
// The run reports on its standard output, one line per step, for the driver
// (scale_main.cpp); everything the library prints goes to /dev/null:
//   mesh TRIANGLES VERTICES FILE_BYTES
//   load SECONDS
//   build SECONDS
//   render KIND SECONDS CLOCK_NS  (each render; CLOCK_NS: steady clock at its end)
//   error WHAT                    (then exit status 1)

#include <string>
#include <vector>

#include "mesh/mesh.h"
#include "render/render.h"
#include "scene/object.h"

struct render_kind {
    ray_grouping grouping = ray_grouping::packets;
    int threads = 0;

    std::string name() const;  // "packets:0"
};

struct child_arguments {
    const char* path = nullptr;
    int rounds = 1;
    double budget = 0.0;
    std::vector<render_kind> kinds{render_kind{}};
    std::string variant;
};

// Parses the arguments above from argv[first..]; false if malformed.
bool parse_child_arguments(int argc, char** argv, int first, child_arguments* out);

// Builds the object that stands in the scene for `loaded` by `variant`,
// taking the mesh over, and sets `seconds` to the time of the build proper.
// Returns null and sets `error` when it cannot.
using build_function = object* (*)(mesh* loaded, const std::string& variant, double* seconds, std::string* error);

// Runs the steps above. The process ends here, without the teardown:
// freeing a mesh of millions of triangles measures nothing.
[[noreturn]] void run_scale_child(const child_arguments& a, build_function build);

// Only loads the mesh at `path`, as the program does (open, read, parse):
// reports the "mesh" and "load" lines, then ends.
[[noreturn]] void run_load_child(const char* path);
