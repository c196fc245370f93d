#pragma once

#include <SDL.h>

// Draws rows y0 to y1 - 1 of a picture `width` pixels wide, stored by row,
// three floats a pixel (row y at pixels + 3·width·y), into `screen` (32 bits
// a pixel), each channel truncated and held to 0..255 as the window shows
// it. Pixel (x, y) fills the `scale` x `scale` block whose top-left corner
// is (scale·x, scale·y): a picture 1/scale the window's size fills the
// window by its nearest sample, each pixel being sampled at its top-left
// corner as the window's are. Whatever falls outside the surface is left
// out. Locks the surface when SDL_MUSTLOCK says it must, and draws nothing
// when that fails (false). Does not flip.
bool draw_rows(SDL_Surface* screen, const float* pixels, int width, int scale, int y0, int y1);
