#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "render/camera.h"
#include "scene/scene.h"

// The pixels of a camera's picture that a render fills, and where they go:
// columns x0 to x1 - 1 and rows y0 to y1 - 1; the red, green and blue of
// pixel (x, y) land at pixels[(x - x0)·column_stride + (y - y0)·row_stride]
// and the two floats after it. A whole picture, or a tile of one, stored by
// row or by column in the caller's buffer.
struct picture_target {
    float* pixels = nullptr;
    std::size_t column_stride = 3;
    std::size_t row_stride = 0;
    int x0 = 0;
    int y0 = 0;
    int x1 = 0;
    int y1 = 0;
};

// The whole picture of `cam`, stored by row (row_stride 3·width), or by
// column (column_stride 3·height) as the image is.
picture_target picture_by_rows(float* pixels, const camera& cam);
picture_target picture_by_columns(float* pixels, const camera& cam);

// How far a render has come: of the `total` rows it renders, `finished` are
// done, and the first `ordered` of them from the top are all done.
struct render_progress {
    int ordered = 0;
    int finished = 0;
    int total = 0;
};
using progress_report = std::function<void(const render_progress&)>;

// Renders current_scene from the fixed camera into `image`, printing
// "spawning rays", the progress dots and "done \n".
void render();

// The same output and picture for any camera and any number of samples,
// into `out`: the 84 dots fall as the rows of the picture pass the rows of
// the 800 x 600 one that print them, so standard output is the same for
// every size. Each report also goes to `also`, when given.
void render(const camera& cam, int samples, const picture_target& out, const progress_report& also = {});

// How a render hands its primary rays to the tracer: one by one
// (trace_ray), or sixteen neighbouring pixels' rays at a time
// (trace_packet). The picture is the same bit for bit.
enum class ray_grouping { single, packets };

// Packets where the processor walks them quicker than single rays
// (packets_pay_off, bvh.h), else single rays: the renders' default.
ray_grouping quicker_grouping();

// Renders the pixels of `out` (in any picture of `cam`), each the mean of
// samples x samples primary rays (render_row), on `threads` threads (0: one
// per hardware thread; never more than util::max_workers). Rows are handed out in
// runs of a few as threads come free. Each helper thread runs as its own
// worker (util/worker.h), the calling thread as worker 0, so the picture is
// the same bit for bit whatever the thread count. The calling thread reports
// to `progress` (when given) each time it has finished a row, and once at
// the end. Allocates nothing per pixel. Call it from one thread at a time.
void render_picture(scene* s, const camera& cam, int samples, int threads, const picture_target& out,
                    const progress_report& progress = {}, ray_grouping grouping = quicker_grouping());

// Room for one worker to trace `rows` rows at a time of pictures up to
// `width` wide.
struct row_workspace {
    std::vector<vector3> directions;
    std::vector<vector3> sums;
    explicit row_workspace(int width, int rows = 1);
};

// Traces columns x0 to x1 - 1 of row `y` of `s`, left to right, into `row`:
// the red, green and blue of pixel x at row[3(x - x0)] and the two floats
// after it. Each pixel is the mean of samples x samples rays, taken before
// tone mapping. They fall on a grid centred on the pixel's sample point
// (its top-left corner, camera.h): sample (i, j) at x + (i + 1/2)/samples
// - 1/2 column steps and y + (j + 1/2)/samples - 1/2 row steps. With one
// sample that is the sample point itself; the picture keeps its place
// whatever the count. Writes nothing else and
// allocates nothing. Rows may run at the same time only on distinct workers
// (a model remembers its last hit per worker).
void render_row(scene* s, const camera& cam, int samples, int y, int x0, int x1, row_workspace& work, float* row,
                ray_grouping grouping = quicker_grouping());

// render_row on rows y to y + rows - 1 at once, into `rows_out`, one row
// after another (3·(x1 - x0) floats each); `work` has room for them. With
// packets, the rays of a tile of neighbouring pixels, `rows` tall, go
// through the scene together. Each pixel is render_row's, bit for bit.
void render_rows(scene* s, const camera& cam, int samples, int y, int rows, int x0, int x1, row_workspace& work,
                 float* rows_out, ray_grouping grouping = quicker_grouping());

// Whether a progress dot precedes pixel (x, y) of the 800 x 600 picture:
// 84 of them over it.
bool progress_dot_before(int x, int y);

// One accumulated colour channel to the display scale: 255·(1 - e^-c),
// held at 255 from above only (NaN shows as 255, negatives pass through).
float tone_map(float channel);
