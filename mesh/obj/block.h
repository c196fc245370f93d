#pragma once

// One block of whole lines parsed on its own, on any thread, knowing nothing
// of the file above it. The vertex slots of positive indices are final;
// those of negative ones count from the block's first vertex, and get the
// block's place in the file added when it is taken in (merge.h). A block
// stops at anything only the file above it can settle: a bad line, an index
// 0, and it is then parsed again at its turn.

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "mesh/mesh.h"
#include "util/mapped_array.h"

namespace obj {

// A corner whose vertex slot counts from the block's first vertex.
struct relative_corner {
    std::int32_t face;    // counted from the block's first face
    std::int32_t corner;  // 0, 1 or 2
};

// A block's results, in arrays with room for the most any block of its
// size can hold, reserved before it is parsed: a block never runs out of
// memory halfway.
template <typename T>
class block_array {
public:
    bool reserve(std::int64_t count) {
        capacity_ = count;
        return values_.reserve(count);
    }
    void clear() { values_.clear(); }
    void push(const T& value) {
        assert(values_.size() < capacity_);
        const bool fits = values_.push(value);
        assert(fits);
        (void)fits;
    }
    std::int64_t size() const { return values_.size(); }
    const T* data() const { return values_.data(); }

private:
    util::mapped_array<T> values_;
    std::int64_t capacity_ = 0;
};

struct block_result {
    block_array<vector3> vertices;
    block_array<face_corners> faces;
    block_array<relative_corner> relative_corners;
    long long lines = 0;
    long long max_index = 0;     // the largest positive index
    long long min_relative = 0;  // the lowest slot counted from the block's start
    bool needs_context = false;  // something only the file above can settle

    // Room for any block of up to `bytes` bytes; false when there is no
    // memory for it.
    bool reserve(std::size_t bytes);
};

// Parses the lines of [begin, end) (at most the bytes reserved for) into r.
void parse_block(const char* begin, const char* end, block_result& r);

}  // namespace obj
