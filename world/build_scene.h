#pragma once

// Fills current_scene with the fixed light, floor plane and mesh model.
void build_scene();
