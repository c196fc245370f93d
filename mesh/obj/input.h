#pragma once

// Where the text comes from: a stream or memory (load_obj.cpp), or whatever
// a test makes up.

#include <cstddef>

namespace obj {

class input {
public:
    virtual ~input() = default;
    // Up to `n` bytes; fewer only at the end or on a failure.
    virtual std::size_t read(char* to, std::size_t n) = 0;
    // Why reading failed, as an errno value; 0 if it has not.
    virtual int error() const { return 0; }
};

}  // namespace obj
