#pragma once

#include "math/vector3.h"

// A point light: no size, no direction, no fall-off with distance.
// `color` scales the diffuse term only.
struct light {
    vector3 color;
    vector3 position;
};
