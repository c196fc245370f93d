#pragma once

#include "render/camera.h"
#include "scene/scene.h"

// Renders every row of `s` into `image` on `threads` threads (0: one per
// hardware thread; never more than max_workers). Rows are handed out in
// runs of a few as threads come free. Each helper thread runs as its own
// worker (scene/worker.h), the calling thread as worker 0, so the picture
// is the same bit for bit whatever the thread count. With `show_progress`
// the calling thread prints the progress dots of each row once it and all
// rows above it are finished: the dots come out in pixel order, the same
// 84 of them. Allocates nothing per pixel. Call it from one thread at a time.
void render_rows(scene* s, const camera& cam, int threads, bool show_progress);
