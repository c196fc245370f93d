#pragma once

// The bytes of a binary mesh file, written value by value in either byte
// order, for tests that need files no writer of ours makes.

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the tests build files on a little-endian machine");

struct byte_builder {
    bool big_endian = false;
    std::string bytes;

    byte_builder& text(const std::string& s) {
        bytes += s;
        return *this;
    }
    template <typename T>
    byte_builder& put(T value) {
        char b[sizeof(T)];
        std::memcpy(b, &value, sizeof b);
        if (big_endian)
            for (std::size_t i = 0; i < sizeof b / 2; ++i) std::swap(b[i], b[sizeof b - 1 - i]);
        bytes.append(b, sizeof b);
        return *this;
    }
    // A value as the PLY type named.
    byte_builder& put_as(const std::string& type, double value) {
        if (type == "char") return put(static_cast<std::int8_t>(value));
        if (type == "uchar") return put(static_cast<std::uint8_t>(value));
        if (type == "short") return put(static_cast<std::int16_t>(value));
        if (type == "ushort") return put(static_cast<std::uint16_t>(value));
        if (type == "int") return put(static_cast<std::int32_t>(value));
        if (type == "uint") return put(static_cast<std::uint32_t>(value));
        if (type == "float") return put(static_cast<float>(value));
        return put(value);
    }
};
