#pragma once

#include "math/vector3.h"

// The fixed pinhole camera in world space: every primary ray starts at
// `eye`; pixel (x, y) is sampled at top_left + y·row_step + x·column_step,
// reached by stepping along the row rather than by recomputing.
struct camera {
    vector3 eye;
    vector3 top_left;
    vector3 column_step;
    vector3 row_step;
};

// Builds the one camera of the program: standing at (-3000, 800, 500),
// looking at (0, 400, 0), a 4 x 3 screen 5 units in front of the eye.
camera setup_camera();
