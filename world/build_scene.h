#pragma once

// Fills current_scene with the fixed light, floor plane and mesh model.
// The mesh is "bunny.obj" in the working directory.
void build_scene();

// The same scene with the mesh read from `mesh_path`.
void build_scene(const char* mesh_path);
