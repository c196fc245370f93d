#pragma once

#include <cstdio>

#include "render/render.h"

// One line on a terminal saying how far a long render has come and about
// how long it has left, redrawn in place: silent for the first second, so
// that a short render shows nothing, and erased once every row is done, so
// that whatever the program prints next starts on a clean line.
class progress_line {
public:
    // Draws on `terminal`; null draws nothing.
    explicit progress_line(std::FILE* terminal) : out_(terminal) {}

    // The render has come this far after `seconds`.
    void update(const render_progress& p, double seconds);

private:
    std::FILE* out_;
    double drawn_at_ = -1.0;  // when the line was last drawn; -1 while none is
    int length_ = 0;          // the characters on the line now
};
