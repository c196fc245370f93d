#pragma once

#include <cstddef>

// The one picture of the run: 800 x 600 RGB floats on the 0..255 scale,
// stored by column. Pixel (x, y) starts at float index (x * 600 + y) * 3;
// row 0 is the top of the picture.
constexpr int image_width = 800;
constexpr int image_height = 600;

extern float image[image_width * image_height * 3];

inline std::size_t image_index(int x, int y) {
    return (static_cast<std::size_t>(x) * image_height + static_cast<std::size_t>(y)) * 3;
}
