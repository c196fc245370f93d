#include "render/render.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <thread>
#include <vector>

#include "app/image.h"
#include "render/trace.h"
#include "util/worker.h"

namespace {

constexpr int max_depth = 5;
constexpr float air_index = 1.0f;
constexpr int progress_modulus = 48000;

// Rows per claim: a few cache lines of each column, and still small beside
// one thread's share, so the threads finish close together.
constexpr int rows_per_claim = 16;

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

void render_row(scene* s, const camera& cam, int y, float* row) {
    // The row's directions first, in one loop of independent square roots
    // and divisions, rather than one long chain of them before each trace.
    vector3 directions[image_width];
    vector3 sample = cam.top_left + static_cast<float>(y) * cam.row_step;
    for (int x = 0; x < image_width; ++x) {
        const vector3 d = sample - cam.eye;
        // The squares are summed y, x, z: that is how a pixel's direction is
        // defined. Float addition is not associative, so dot(d, d), which
        // sums x, y, z, may round differently; for this camera it happens to
        // agree on all 480,000 pixels, but the defined order is the one kept.
        const float length = rounded_sqrt(d.y * d.y + d.x * d.x + d.z * d.z);
        directions[x] = d * (1.0f / length);
        sample = sample + cam.column_step;
    }

    ray primary{cam.eye, {}};
    for (int x = 0; x < image_width; ++x) {
        vector3 color{0.0f, 0.0f, 0.0f};
        int depth = 0;
        float weight = 1.0f;
        primary.direction = directions[x];
        trace_ray(s, &depth, max_depth, &weight, &color, air_index, primary);

        float* pixel = &row[3 * x];
        pixel[0] = tone_map(color.x);
        pixel[1] = tone_map(color.y);
        pixel[2] = tone_map(color.z);
    }
}

void render_picture(scene* s, const camera& cam, int threads, bool show_progress, float* picture) {
    if (threads <= 0) threads = static_cast<int>(std::thread::hardware_concurrency());
    threads = std::clamp(threads, 1, std::min(util::max_workers, image_height));

    // Rows go out in runs. The picture is stored by column, so neighbouring
    // rows share cache lines: two threads on rows y and y + 1 would keep
    // taking each column's line from each other. A run of rows shares lines
    // with its neighbours at its two edges only.
    std::atomic<int> next_row{0};
    std::atomic<bool> finished[image_height];
    for (std::atomic<bool>& f : finished) f.store(false, std::memory_order_relaxed);

    // The dots of a row go out once every row up to it is done, so they
    // appear in the order a single thread would print them. Only the calling
    // thread prints.
    int printed = 0;
    auto print_finished_rows = [&] {
        while (printed < image_height && finished[printed].load(std::memory_order_acquire)) {
            for (int x = 0; x < image_width; ++x)
                if (progress_dot_before(x, printed)) std::printf(".");
            ++printed;
        }
    };

    // Claims runs of rows until none are left. Each row is traced into a
    // row of its own, then copied into the picture's columns.
    auto work = [&](bool prints) {
        float row[image_width * 3];
        for (;;) {
            const int first = next_row.fetch_add(rows_per_claim, std::memory_order_relaxed);
            if (first >= image_height) return;
            const int end = std::min(first + rows_per_claim, image_height);
            for (int y = first; y < end; ++y) {
                render_row(s, cam, y, row);
                for (int x = 0; x < image_width; ++x)
                    for (int c = 0; c < 3; ++c) picture[image_index(x, y) + static_cast<std::size_t>(c)] = row[3 * x + c];
                finished[y].store(true, std::memory_order_release);
                if (prints) print_finished_rows();
            }
        }
    };

    std::vector<std::thread> helpers;
    helpers.reserve(static_cast<std::size_t>(threads - 1));
    for (int w = 1; w < threads; ++w) {
        try {
            helpers.emplace_back([&work, w] {
                util::current_worker = w;
                work(false);
            });
        } catch (const std::system_error&) {
            break;  // fewer helpers: the rows still all get done
        }
    }

    const int caller_worker = util::current_worker;
    util::current_worker = 0;
    work(show_progress);
    for (std::thread& t : helpers) t.join();
    if (show_progress) print_finished_rows();
    util::current_worker = caller_worker;
}

void render() {
    std::printf("spawning rays");
    const camera cam = setup_camera();
    // Every hardware thread; the picture and the output are those of one.
    render_picture(current_scene, cam, 0, true, image);
    std::printf("done \n");
}
