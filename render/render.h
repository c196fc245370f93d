#pragma once

#include "render/camera.h"
#include "scene/scene.h"

// Renders current_scene from the fixed camera into `image`, printing
// "spawning rays", the progress dots and "done \n".
void render();

// Traces the 800 pixels of row `y` of `s` into `image`, left to right. With
// `show_progress` it prints each progress dot just before its pixel. Each
// row writes only its own pixels and allocates nothing; rows may run at the
// same time only if tracing leaves the scene untouched (a model remembers
// its last hit).
void render_row(scene* s, const camera& cam, int y, bool show_progress);

// Whether a progress dot precedes pixel (x, y): 84 of them over the image.
bool progress_dot_before(int x, int y);

// One accumulated colour channel to the display scale: 255·(1 - e^-c),
// held at 255 from above only (NaN shows as 255, negatives pass through).
float tone_map(float channel);
