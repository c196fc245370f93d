#pragma once

#include <SDL.h>

// Converts the whole image into `screen` (32 bits per pixel) and flips it to
// the window. Image row y lands on surface row y, column x on column x; a
// surface larger than the image keeps its extra pixels as they were. When the
// surface must be locked and the lock fails, the frame is skipped entirely,
// flip included: the display loop simply tries again.
void draw_image(SDL_Surface* screen);
