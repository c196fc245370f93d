#include "render/camera.h"

#include "render/matrix3x4.h"

namespace {

// The eye stands this far behind the screen's centre, camera-local.
constexpr float eye_distance = 5.0f;

// Camera-local point to world: p.x·X + p.y·Y + p.z·F + K, with X, Y and F
// the columns of the camera-to-world rotation and K the screen's centre.
vector3 to_world(const matrix3x4& m, const vector3& k, const vector3& p) {
    vector3 w;
    float* out[3] = {&w.x, &w.y, &w.z};
    const float kk[3] = {k.x, k.y, k.z};
    for (int i = 0; i < 3; ++i) {
        *out[i] = m.m[i][0] * p.x + m.m[i][1] * p.y + m.m[i][2] * p.z + kk[i];
    }
    return w;
}

}  // namespace

camera setup_camera(const camera_view& view) {
    const vector3 v = view.look_at - view.position;
    const float length = rounded_sqrt(dot(v, v));
    const vector3 forward = v * (1.0f / length);

    // Neither X nor Y is normalised (both have length |up × F|); the screen
    // is scaled by that factor, and normalising would move every pixel. For
    // up = (0, 1, 0) the cross product is exactly (F.z, 0, -F.x).
    const vector3 right = cross(view.up, forward);
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

    // 1.5·800/600 is exactly 2: the default screen is 4 x 3.
    const float half_height = view.half_height;
    const float half_width = half_height * static_cast<float>(view.width) / static_cast<float>(view.height);
    const vector3 top_left = to_world(m, view.position, {-half_width, half_height, 0.0f});
    const vector3 top_right = to_world(m, view.position, {half_width, half_height, 0.0f});
    const vector3 bottom_left = to_world(m, view.position, {-half_width, -half_height, 0.0f});

    // One pixel's share of the screen's width and height: 1/800 and 1/600
    // as floats for the default view.
    const float column_fraction = 1.0f / static_cast<float>(view.width);
    const float row_fraction = 1.0f / static_cast<float>(view.height);

    camera cam;
    cam.eye = to_world(m, view.position, {0.0f, 0.0f, -eye_distance});
    cam.top_left = top_left;
    cam.column_step = (top_right - top_left) * column_fraction;
    cam.row_step = (bottom_left - top_left) * row_fraction;
    cam.width = view.width;
    cam.height = view.height;
    cam.stepped = view.width == 800 && view.height == 600;
    return cam;
}

camera setup_camera() { return setup_camera(camera_view{}); }
