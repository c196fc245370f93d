#include "render/camera.h"

#include "render/matrix3x4.h"

#include <cmath>

namespace {

const vector3 position{-3000.0f, 800.0f, 500.0f};
const vector3 look_at{0.0f, 400.0f, 0.0f};

// 1/800 and 1/600 as floats: one pixel's share of the screen's width and height.
constexpr float column_fraction = 0.00125f;
constexpr float row_fraction = 1.0f / 600.0f;

// Camera-local point to world: p.x·X + p.y·Y + p.z·F + K, with X, Y and F
// the columns of the camera-to-world rotation.
vector3 to_world(const matrix3x4& m, const vector3& p) {
    vector3 w;
    float* out[3] = {&w.x, &w.y, &w.z};
    const float k[3] = {position.x, position.y, position.z};
    for (int i = 0; i < 3; ++i) {
        *out[i] = m.m[i][0] * p.x + m.m[i][1] * p.y + m.m[i][2] * p.z + k[i];
    }
    return w;
}

}  // namespace

camera setup_camera() {
    const vector3 view = look_at - position;
    const float length = rounded_sqrt(dot(view, view));
    const vector3 forward = view * (1.0f / length);

    // Neither X nor Y is normalised (both have length sqrt(1 - F.y²)); the
    // screen is scaled by that factor, and normalising would move every pixel.
    const vector3 right{forward.z, 0.0f, -forward.x};   // (0, 1, 0) x F
    const vector3 up = cross(right, -forward);

    // World-to-camera has rows X, Y, F; its inverse has them as columns.
    // Its translation is never read, so it is left at zero.
    matrix3x4 m;
    const vector3 rows[3] = {right, up, forward};
    for (int i = 0; i < 3; ++i) {
        m.m[i][0] = rows[i].x;
        m.m[i][1] = rows[i].y;
        m.m[i][2] = rows[i].z;
    }
    invert_rigid(m);

    const vector3 top_left = to_world(m, {-2.0f, 1.5f, 0.0f});
    const vector3 top_right = to_world(m, {2.0f, 1.5f, 0.0f});
    const vector3 bottom_left = to_world(m, {-2.0f, -1.5f, 0.0f});

    camera cam;
    cam.eye = to_world(m, {0.0f, 0.0f, -5.0f});
    cam.top_left = top_left;
    cam.column_step = (top_right - top_left) * column_fraction;
    cam.row_step = (bottom_left - top_left) * row_fraction;
    return cam;
}
