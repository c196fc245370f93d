#pragma once

// One block of whole lines parsed on its own, on any thread, knowing nothing
// of the file above it: the vertex slots of positive indices are final,
// those of negative ones are counted from the block's first vertex and get
// its place in the file added at the block's turn (obj_merge.cpp).

#include <cstdint>

#include "mesh/mesh.h"
#include "util/mapped_array.h"

namespace obj {

struct block_result {
    util::mapped_array<vector3> vertices;
    util::mapped_array<face_corners> faces;
    // face index * 8 + one bit per corner counted from the block's start
    util::mapped_array<std::uint64_t> relative_faces;
    long long lines = 0;
    long long max_index = 0;      // the largest positive index
    long long min_relative = 0;   // the lowest slot counted from the block's start
    bool needs_context = false;   // something only the file above can settle
    bool out_of_memory = false;

    void clear() {
        vertices.clear();
        faces.clear();
        relative_faces.clear();
        lines = max_index = min_relative = 0;
        needs_context = out_of_memory = false;
    }
};

// Parses the lines of [begin, end) into `r`, which it clears first.
void parse_block(const char* begin, const char* end, block_result& r);

}  // namespace obj
