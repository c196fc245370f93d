#pragma once

#include <cmath>

// Points, directions and RGB colours alike (red, green, blue in x, y, z).
// Every operation rounds its result to single precision, so a named value
// built from these helpers is the float the tracer's arithmetic defines.
struct vector3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

inline vector3 operator+(const vector3& a, const vector3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline vector3 operator-(const vector3& a, const vector3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline vector3 operator-(const vector3& a) { return {-a.x, -a.y, -a.z}; }
inline vector3 operator*(const vector3& a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline vector3 operator*(float s, const vector3& a) { return {s * a.x, s * a.y, s * a.z}; }
inline bool operator==(const vector3& a, const vector3& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

inline bool is_finite(const vector3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

inline float dot(const vector3& a, const vector3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Each component one float difference of two float products.
inline vector3 cross(const vector3& a, const vector3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// A float's square root as the system takes it: in double, then rounded to
// float. Every square root of a named single-precision value goes through
// here, so they all round alike.
inline float rounded_sqrt(float x) { return static_cast<float>(std::sqrt(static_cast<double>(x))); }

// One square root and one reciprocal, each rounded to float, then three
// multiplications. The zero vector has no direction; it maps to itself
// rather than to NaNs. A finite vector whose squared length is not a normal
// float (too large, or too small) is first scaled by a power of two.
vector3 normalize(const vector3& n);
