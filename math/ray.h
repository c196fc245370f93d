#pragma once

#include "math/vector3.h"

// A point and a unit direction; distances along a ray are world units.
struct ray {
    vector3 origin;
    vector3 direction;
};
