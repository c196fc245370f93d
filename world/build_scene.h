#pragma once

#include <string>

#include "world/fit.h"

// Fills current_scene with the fixed light, floor plane and mesh model, the
// mesh read from `mesh_path`. Returns false when the mesh cannot be opened,
// is rejected, or does not fit in memory, with one line saying why in
// `error` (the scene then holds the light and the floor only); nothing
// here ends the process.
bool build_scene(const char* mesh_path, std::string* error = nullptr);

// The same with the mesh placed as `placement` says (world/fit.h) before
// the model is built on it.
bool build_scene(const char* mesh_path, const mesh_placement& placement, std::string* error);

// The same for pictures that will trace `primary_rays` primary rays in all
// (pixels times samples; 0: one 800 x 600 picture): the model's hierarchy
// is built the way that costs least for them (automatic_method, bvh.h).
bool build_scene(const char* mesh_path, const mesh_placement& placement, std::string* error, long long primary_rays);

// The same with "bunny.obj" in the working directory.
bool build_scene(std::string* error = nullptr);
