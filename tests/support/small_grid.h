#pragma once

// A small mesh with something of everything the hierarchy holds: a grid of
// 72 regular triangles facing +z, and one sliver, so that both kinds of
// leaf are made. In metres, as OBJ files are.

#include <string>

constexpr int small_grid_triangles = 73;

inline std::string small_grid_obj() {
    std::string text;
    for (int y = 0; y <= 6; ++y)
        for (int x = 0; x <= 6; ++x)
            text += "v " + std::to_string(0.01 * x) + " " + std::to_string(0.04 + 0.01 * y) + " 0\n";
    auto face = [&](int a, int b, int c) {
        text += "f " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c) + "\n";
    };
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 6; ++x) {
            const int a = 1 + 7 * y + x;
            face(a, a + 1, a + 8);
            face(a, a + 8, a + 7);
        }
    }
    text += "v 0 0.03 0\nv 0.06 0.03 0\nv 0.03 0.03 0.0000001\n";
    face(50, 51, 52);
    return text;
}
