#pragma once

#include <cstdint>
#include <cstring>
#include <limits>

// The float next to f towards -infinity or +infinity: what std::nextafter(f,
// ∓infinity) gives (infinities step to the largest finite float, NaN stays
// NaN), inline. The builder steps hundreds of thousands of box sides, and
// the library call costs it more than a percent.
inline float next_float_down(float f) {
    if (!(f > -std::numeric_limits<float>::infinity())) return f;  // -infinity, NaN
    if (f == 0.0f) return -std::numeric_limits<float>::denorm_min();
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    bits = f > 0.0f ? bits - 1 : bits + 1;  // the magnitude down, or up for a negative f
    float next;
    std::memcpy(&next, &bits, sizeof next);
    return next;
}

inline float next_float_up(float f) { return -next_float_down(-f); }
