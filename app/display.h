#pragma once

#include <SDL.h>

// The window's life once the picture is finished.

// Starts SDL video and opens the 800 x 600 double-buffered window with its
// caption. Returns the screen surface, or null after writing one line to
// standard error; SDL is shut down again if it had been started.
SDL_Surface* open_window();

// The same for another program's window: 800 x 600, 32 bits a pixel, with
// SDL_SetVideoMode's `flags` and `caption`; the failure line starts with
// `program`.
SDL_Surface* open_window(const char* program, const char* caption, Uint32 flags);

// Redraws the image and drains the event queue, round after round without
// waiting, until a round's drain has seen a quit request. Every round starts
// with a redraw, and the drain empties the queue even after the quit event.
void display_loop(SDL_Surface* screen);
