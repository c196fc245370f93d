#pragma once

#include "render/camera.h"
#include "scene/scene.h"

// Renders current_scene from the fixed camera into `image`, printing
// "spawning rays", the progress dots and "done \n".
void render();

// Renders every row of `s` into `picture`, laid out as the image is (by
// column, three floats a pixel), on `threads` threads (0: one per hardware
// thread; never more than max_workers). Rows are handed out in runs of a
// few as threads come free. Each helper thread runs as its own worker
// (util/worker.h), the calling thread as worker 0, so the picture is the
// same bit for bit whatever the thread count. With `show_progress` the
// calling thread prints the progress dots of each row once it and all rows
// above it are finished: the dots come out in pixel order, the same 84 of
// them. Allocates nothing per pixel. Call it from one thread at a time.
void render_picture(scene* s, const camera& cam, int threads, bool show_progress, float* picture);

// Traces the 800 pixels of row `y` of `s`, left to right, into `row`: the
// red, green and blue of pixel x at row[3x], row[3x + 1], row[3x + 2]. Writes
// nothing else and allocates nothing. Rows may run at the same time only on
// distinct workers (a model remembers its last hit per worker).
void render_row(scene* s, const camera& cam, int y, float* row);

// Whether a progress dot precedes pixel (x, y): 84 of them over the image.
bool progress_dot_before(int x, int y);

// One accumulated colour channel to the display scale: 255·(1 - e^-c),
// held at 255 from above only (NaN shows as 255, negatives pass through).
float tone_map(float channel);
