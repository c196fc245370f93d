#pragma once

// The program's camera as its description gives it, in double: the basis
// X (right), Y (up), F (forward), neither X nor Y normalised, the screen's
// centre K and the eye E = K - 5F. Tests aim and project with it rather
// than with the code under test.

#include <cmath>

namespace described {

struct vec {
    double x, y, z;
};

inline vec operator+(vec a, vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline vec operator-(vec a, vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline vec operator*(double s, vec a) { return {s * a.x, s * a.y, s * a.z}; }
inline double dot(vec a, vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline vec unit(vec a) { return (1.0 / std::sqrt(dot(a, a))) * a; }

const vec forward{0.97797209, -0.13039628, -0.16299535};
const vec right{-0.16299535, 0.0, -0.97797209};
const vec up{0.12752391, 0.98299688, -0.021253986};
const vec centre{-3000.0, 800.0, 500.0};
const vec eye{-3004.8899, 800.65198, 500.81497};

// |X| = |Y| = sqrt(1 - F.y²).
const double axis_length = 0.991462;

// The unit direction from the eye through camera-local screen point (a, b).
inline vec direction_through(double a, double b) { return unit(5.0 * forward + a * right + b * up); }

// Camera-local screen point (a, b) where the line from the eye through `p`
// meets the screen; false for a point not in front of the eye.
inline bool screen_point(vec p, double* a, double* b) {
    const vec d = p - eye;
    const double depth = dot(d, forward);
    if (!(depth > 0.0)) return false;
    *a = 5.0 * dot(d, right) / (axis_length * axis_length) / depth;
    *b = 5.0 * dot(d, up) / (axis_length * axis_length) / depth;
    return true;
}

// The angle between two unit vectors, accurate for small angles too.
inline double angle_between(vec a, vec b) {
    const vec d = a - b;
    const vec s = a + b;
    return 2.0 * std::atan2(std::sqrt(dot(d, d)), std::sqrt(dot(s, s)));
}

}  // namespace described
