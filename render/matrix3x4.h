#pragma once

// A rigid transform p -> R·p + t: row i holds R(i,0), R(i,1), R(i,2), t(i).
struct matrix3x4 {
    float m[3][4] = {};
};

// Inverts a transform whose rotation is orthonormal, in place: the rotation
// is transposed and the translation becomes -Rᵀ·t.
void invert_rigid(matrix3x4& a);
