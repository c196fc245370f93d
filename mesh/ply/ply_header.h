#pragma once

// The header of a PLY file: its format, and the elements the data holds in
// order, each with its properties. The reader needs the x, y and z of the
// "vertex" element and the list of vertex indices of the "face" element;
// everything else is stepped over.

#include <string>
#include <vector>

#include "mesh/input/scalar.h"
#include "mesh/input/text_lines.h"

namespace ply {

enum class format { ascii, binary_little_endian, binary_big_endian };

// What the reader does with a property.
enum class role : unsigned char { skip, x, y, z, corners };

struct property {
    std::string name;
    bool list = false;
    scalar_type count_type = scalar_type::uint8;  // a list's count
    scalar_type type = scalar_type::float32;      // the value, or a list's items
    role use = role::skip;
};

struct element {
    std::string name;
    long long count = 0;
    long long line = 0;  // of its "element" line
    std::vector<property> properties;
};

struct header {
    format data_format = format::ascii;
    line_end ending = line_end::lf;  // the line end of the "ply" line
    std::vector<element> elements;
    int vertex = -1;  // the index of the "vertex" element, or -1
    int face = -1;    // of the "face" element, or -1
};

// Reads the header from the first line to "end_header". For a binary file
// the reader then stands on the first byte of the data; for an ASCII file
// the data's lines follow in `text`. Returns false with "NAME:LINE: what"
// in `error` for a header the reader cannot use.
bool read_header(text_lines& text, const char* name, header* h, std::string* error);

// The fewest bytes the data of `h` can take: every list of indices with
// three, every other list empty, every ASCII number one character.
long long least_data_bytes(const header& h);

}  // namespace ply
