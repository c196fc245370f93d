#pragma once

#include "math/vector3.h"

// Where a pinhole camera stands and what it frames; the defaults are the
// program's own view. The screen is centred on `position`, facing `look_at`,
// and the eye stands 5 units behind it. Camera-local, the screen reaches
// `half_height` above and below its centre and half_height·width/height to
// either side, so a picture of any size keeps the vertical field of view.
// The camera's right axis is up × forward and its up axis right × backward,
// neither normalised: the screen's world size is its local size times
// |up × forward| (0.991462 for the default view), so a viewer that wants a
// field of view independent of the elevation passes an `up` of length
// 1/sin(angle between up and forward).
struct camera_view {
    vector3 position{-3000.0f, 800.0f, 500.0f};
    vector3 look_at{0.0f, 400.0f, 0.0f};
    vector3 up{0.0f, 1.0f, 0.0f};
    float half_height = 1.5f;
    int width = 800;
    int height = 600;
};

// A camera in world space, ready for the pixel loop: every primary ray
// starts at `eye`; pixel (x, y) of the width x height picture is sampled at
// top_left + y·row_step + x·column_step. With `stepped`, as for the
// program's own 800 x 600 picture, that point is reached by x single-
// precision additions of column_step along the row, rather than computed:
// each rounds at the screen's magnitude (about 3000), so the point drifts,
// 7 pixels by the end of an 800-pixel row and 163 by the end of a 4000-pixel
// one. Other pictures compute each sample's offset from the eye in double.
struct camera {
    vector3 eye;
    vector3 top_left;
    vector3 column_step;
    vector3 row_step;
    int width = 800;
    int height = 600;
    bool stepped = true;
};

// The camera of `view`; width and height at least 1. It steps along its
// rows when its picture is 800 x 600, the size whose picture is defined
// that way.
camera setup_camera(const camera_view& view);

// The program's camera: standing at (-3000, 800, 500), looking at
// (0, 400, 0), a 4 x 3 screen 5 units in front of the eye, 800 x 600 pixels.
camera setup_camera();
