#include "math/vector3.h"

#include <cfloat>
#include <cmath>

vector3 normalize(const vector3& n) {
    const float squared = dot(n, n);
    // A finite, nonzero vector whose squared length overflows or falls below
    // the normal floats is scaled by a power of two first (exact), so that
    // huge and tiny triangles keep their direction instead of losing it.
    if (!(squared >= FLT_MIN && squared <= FLT_MAX) && is_finite(n)) {
        const float largest = std::fmax(std::fabs(n.x), std::fmax(std::fabs(n.y), std::fabs(n.z)));
        if (largest > 0.0f) {
            int exponent = 0;
            std::frexp(largest, &exponent);
            return normalize({std::ldexp(n.x, -exponent), std::ldexp(n.y, -exponent), std::ldexp(n.z, -exponent)});
        }
    }
    const float length = rounded_sqrt(squared);
    if (!(length > 0.0f)) return {0.0f, 0.0f, 0.0f};
    const float inverse = 1.0f / length;
    return n * inverse;
}
