#include "math/vector3.h"

#include <cmath>

vector3 normalize(const vector3& n) {
    const float length = static_cast<float>(std::sqrt(static_cast<double>(dot(n, n))));
    if (!(length > 0.0f)) return {0.0f, 0.0f, 0.0f};
    const float inverse = 1.0f / length;
    return n * inverse;
}
