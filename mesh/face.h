#pragma once

#include "math/vector3.h"

// One triangle of a loaded mesh, copied by value into a triangle: the
// corners P, Q, R in the order the face line names them, and the
// unnormalised face normal (Q - P) x (R - P).
struct face {
    vector3 vertex[3];
    vector3 normal;
};
