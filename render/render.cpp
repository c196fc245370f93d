#include "render/render.h"

#include "app/image.h"
#include "render/parallel_render.h"
#include "render/trace.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr int max_depth = 5;
constexpr float air_index = 1.0f;
constexpr int progress_modulus = 48000;

}  // namespace

float tone_map(float channel) {
    // Nothing struck, nothing lit: 1 - exp(-0) is exactly 0, without the call.
    if (channel == 0.0f) return 0.0f;
    const float t = 1.0f - static_cast<float>(std::exp(-static_cast<double>(channel)));
    const float v = t * 255.0f;
    if (v < 255.0f) return v;
    return 255.0f;
}

bool progress_dot_before(int x, int y) {
    return x > 0 && y > 0 && (x * y) % progress_modulus == 0;
}

void render_row(scene* s, const camera& cam, int y, bool show_progress) {
    // The row's directions first, in one loop of independent square roots
    // and divisions, rather than one long chain of them before each trace.
    vector3 directions[image_width];
    vector3 sample = cam.top_left + static_cast<float>(y) * cam.row_step;
    for (int x = 0; x < image_width; ++x) {
        const vector3 d = sample - cam.eye;
        const float length =
            static_cast<float>(std::sqrt(static_cast<double>(d.y * d.y + d.x * d.x + d.z * d.z)));
        directions[x] = d * (1.0f / length);
        sample = sample + cam.column_step;
    }

    ray primary{cam.eye, {}};
    for (int x = 0; x < image_width; ++x) {
        if (show_progress && progress_dot_before(x, y)) std::printf(".");

        vector3 color{0.0f, 0.0f, 0.0f};
        int depth = 0;
        float weight = 1.0f;
        primary.direction = directions[x];
        trace_ray(s, &depth, max_depth, &weight, &color, air_index, primary);

        float* pixel = &image[image_index(x, y)];
        pixel[0] = tone_map(color.x);
        pixel[1] = tone_map(color.y);
        pixel[2] = tone_map(color.z);
    }
}

void render() {
    std::printf("spawning rays");
    const camera cam = setup_camera();
    // Every hardware thread; the picture and the output are those of one.
    render_rows(current_scene, cam, 0, true);
    std::printf("done \n");
}
