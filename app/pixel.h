#pragma once

#include <cstdint>

// One display channel as the window shows it: truncated toward zero, then
// held to 0..255. Anything negative (and NaN) shows black rather than
// wrapping around through the low byte; the range checks come before the
// conversion so that no out-of-range float is ever converted to int.
inline std::uint8_t to_8bit(float channel) {
    if (!(channel > 0.0f)) return 0;
    if (channel >= 255.0f) return 255;
    return static_cast<std::uint8_t>(static_cast<int>(channel));
}
