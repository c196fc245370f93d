#pragma once

// Numbers stored in binary mesh files: the eight PLY types (STL uses two
// of them), read from unaligned bytes in either byte order, and a value
// turned into a mesh coordinate as the OBJ reader turns its text into one.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "mesh/mesh.h"

enum class scalar_type : unsigned char { int8, uint8, int16, uint16, int32, uint32, float32, float64 };

constexpr int scalar_size(scalar_type t) {
    return t == scalar_type::int8 || t == scalar_type::uint8     ? 1
           : t == scalar_type::int16 || t == scalar_type::uint16 ? 2
           : t == scalar_type::float64                           ? 8
                                                                 : 4;
}

constexpr bool is_integer(scalar_type t) { return t != scalar_type::float32 && t != scalar_type::float64; }

constexpr bool host_big_endian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;

template <typename T>
inline T load_bytes(const char* p, bool big_endian) {
    T v;
    std::memcpy(&v, p, sizeof v);
    if (big_endian == host_big_endian) return v;
    if constexpr (sizeof(T) == 2) return static_cast<T>(__builtin_bswap16(static_cast<std::uint16_t>(v)));
    if constexpr (sizeof(T) == 4) return static_cast<T>(__builtin_bswap32(static_cast<std::uint32_t>(v)));
    if constexpr (sizeof(T) == 8) return static_cast<T>(__builtin_bswap64(static_cast<std::uint64_t>(v)));
    return v;
}

inline float load_float(const char* p, bool big_endian) {
    const std::uint32_t bits = load_bytes<std::uint32_t>(p, big_endian);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

inline double load_double(const char* p, bool big_endian) {
    const std::uint64_t bits = load_bytes<std::uint64_t>(p, big_endian);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// An integer-typed value.
inline long long integer_at(const char* p, scalar_type t, bool big_endian) {
    switch (t) {
    case scalar_type::int8: return static_cast<signed char>(*p);
    case scalar_type::uint8: return static_cast<unsigned char>(*p);
    case scalar_type::int16: return load_bytes<std::int16_t>(p, big_endian);
    case scalar_type::uint16: return load_bytes<std::uint16_t>(p, big_endian);
    case scalar_type::int32: return load_bytes<std::int32_t>(p, big_endian);
    case scalar_type::uint32: return load_bytes<std::uint32_t>(p, big_endian);
    default: return 0;
    }
}

// Any value; every value of every type is exact in a double.
inline double value_at(const char* p, scalar_type t, bool big_endian) {
    if (t == scalar_type::float32) return load_float(p, big_endian);
    if (t == scalar_type::float64) return load_double(p, big_endian);
    return static_cast<double>(integer_at(p, t, big_endian));
}

enum class coordinate_status { ok, not_finite, too_large };

// The coordinate a value gives: rounded to a float, then multiplied by
// mesh_scale in float, which is what the OBJ reader does with a text that
// reads as that float. A value that is no finite float, or whose product
// is not, is refused.
inline coordinate_status scale_coordinate(double value, float* out) {
    // From half an ulp above the largest float on, a double rounds to
    // infinity (and converting it would be undefined).
    if (!(std::fabs(value) < 0x1.ffffffp127)) return coordinate_status::not_finite;
    const float scaled = static_cast<float>(value) * mesh_scale;
    if (!std::isfinite(scaled)) return coordinate_status::too_large;
    *out = scaled;
    return coordinate_status::ok;
}

// "coordinate VALUE is not a finite number" or "... is too large to scale
// by 5000"; the value shown as briefly as its type allows.
std::string coordinate_message(coordinate_status status, double value, scalar_type t);
