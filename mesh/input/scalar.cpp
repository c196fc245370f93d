#include "mesh/input/scalar.h"

#include <charconv>

std::string coordinate_message(coordinate_status status, double value, scalar_type t) {
    char text[64];
    const std::to_chars_result r = t == scalar_type::float32
                                       ? std::to_chars(text, text + sizeof text, static_cast<float>(value))
                                       : std::to_chars(text, text + sizeof text, value);
    const std::string shown(text, r.ptr);
    return "coordinate " + shown +
           (status == coordinate_status::too_large ? " is too large to scale by 5000" : " is not a finite number");
}
