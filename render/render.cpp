#include "render/render.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "app/image.h"
#include "bvh/bvh.h"
#include "render/trace.h"
#include "util/worker.h"

namespace {

constexpr int max_depth = 5;
constexpr float air_index = 1.0f;

// The dots belong to the pixels of the 800 x 600 picture.
constexpr int progress_modulus = 48000;
constexpr int dot_columns = 800;
constexpr int dot_rows = 600;

// Rows per claim: a few cache lines of each column, and still small beside
// one thread's share, so the threads finish close together.
constexpr int rows_per_claim = 16;

// Rows rendered at once, so that a packet's rays come from a tile of
// pixels this tall: nearer together than those of one row.
constexpr int band_rows = 4;
static_assert(rows_per_claim % band_rows == 0, "a claim is whole bands");

// Where the samples of a pixel fall along one axis, in steps: sample k of n
// at (k + 1/2)/n - 1/2, the centres of n equal parts of the step centred on
// the pixel's sample point; exactly 0 for a single sample.
float sample_offset(int k, int n) {
    return (static_cast<float>(k) + 0.5f) / static_cast<float>(n) - 0.5f;
}

// `d` as a unit direction, its squares summed y, x, z: that is how a
// pixel's direction is defined (float addition is not associative, so
// dot(d, d), which sums x, y, z, may round differently).
vector3 unit(const vector3& d) {
    const float length = rounded_sqrt(d.y * d.y + d.x * d.x + d.z * d.z);
    return d * (1.0f / length);
}

// The directions of sample (dx, dy) of columns x0 to x0 + n - 1 of row y,
// in one loop of independent square roots and divisions rather than one
// long chain of them before each trace.
void sample_directions(const camera& cam, int y, float dy, float dx, int x0, int n, vector3* directions) {
    if (!cam.stepped) {
        // The offset from the eye in double, rounded once: exact to a float
        // at any size.
        const double base[3] = {static_cast<double>(cam.top_left.x) - cam.eye.x,
                                static_cast<double>(cam.top_left.y) - cam.eye.y,
                                static_cast<double>(cam.top_left.z) - cam.eye.z};
        const double row = static_cast<double>(y) + dy;
        const double across[3] = {base[0] + row * cam.row_step.x, base[1] + row * cam.row_step.y,
                                  base[2] + row * cam.row_step.z};
        for (int k = 0; k < n; ++k) {
            const double column = static_cast<double>(x0 + k) + dx;
            directions[k] = unit({static_cast<float>(across[0] + column * cam.column_step.x),
                                  static_cast<float>(across[1] + column * cam.column_step.y),
                                  static_cast<float>(across[2] + column * cam.column_step.z)});
        }
        return;
    }
    const vector3 row_start = cam.top_left + (static_cast<float>(y) + dy) * cam.row_step;
    // A single sample is the pixel's own point: no offset is added, rather
    // than an offset of zero.
    vector3 sample = dx != 0.0f ? row_start + dx * cam.column_step : row_start;
    // Columns left of a tile are passed by the same steps as in the whole
    // row, so a tile's pixels are the whole picture's.
    for (int x = 0; x < x0; ++x) sample = sample + cam.column_step;
    for (int k = 0; k < n; ++k) {
        directions[k] = unit(sample - cam.eye);
        sample = sample + cam.column_step;
    }
}

}  // namespace

ray_grouping quicker_grouping() {
    static const ray_grouping quicker = packets_pay_off() ? ray_grouping::packets : ray_grouping::single;
    return quicker;
}

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

picture_target picture_by_rows(float* pixels, const camera& cam) {
    return {pixels, 3, 3 * static_cast<std::size_t>(cam.width), 0, 0, cam.width, cam.height};
}

picture_target picture_by_columns(float* pixels, const camera& cam) {
    return {pixels, 3 * static_cast<std::size_t>(cam.height), 3, 0, 0, cam.width, cam.height};
}

row_workspace::row_workspace(int width, int rows)
    : directions(static_cast<std::size_t>(width) * static_cast<std::size_t>(rows)),
      sums(static_cast<std::size_t>(width) * static_cast<std::size_t>(rows)) {}

void render_rows(scene* s, const camera& cam, int samples, int y, int rows, int x0, int x1, row_workspace& work,
                 float* out, ray_grouping grouping) {
    const int n = x1 - x0;
    vector3* directions = work.directions.data();
    vector3* sums = work.sums.data();
    for (int k = 0; k < rows * n; ++k) sums[k] = {0.0f, 0.0f, 0.0f};

    // Neighbouring pixels' rays go through the scene together: tiles of
    // the rows' height and as wide as a packet allows.
    const int tile_width = std::max(1, packet_size / rows);
    ray primary[packet_size];
    int pixel[packet_size];  // where each ray's colour goes in `sums`
    for (ray& r : primary) r.origin = cam.eye;
    for (int j = 0; j < samples; ++j) {
        for (int i = 0; i < samples; ++i) {
            for (int r = 0; r < rows; ++r)
                sample_directions(cam, y + r, sample_offset(j, samples), sample_offset(i, samples), x0, n, directions + r * n);
            for (int x = 0; x < n; x += tile_width) {
                int count = 0;
                for (int r = 0; r < rows; ++r) {
                    for (int k = x; k < std::min(x + tile_width, n); ++k) {
                        pixel[count] = r * n + k;
                        primary[count++].direction = directions[r * n + k];
                    }
                }
                vector3 colors[packet_size];
                if (grouping == ray_grouping::packets) {
                    trace_packet(s, max_depth, air_index, primary, count, colors);
                } else {
                    for (int k = 0; k < count; ++k) {
                        int depth = 0;
                        float weight = 1.0f;
                        trace_ray(s, &depth, max_depth, &weight, &colors[k], air_index, primary[k]);
                    }
                }
                for (int k = 0; k < count; ++k) sums[pixel[k]] = sums[pixel[k]] + colors[k];
            }
        }
    }

    // The mean of the samples, in the one order above, then the tone map:
    // with one sample, 0 + c times 1 is c itself.
    const float share = 1.0f / (static_cast<float>(samples) * static_cast<float>(samples));
    for (int k = 0; k < rows * n; ++k) {
        float* to = &out[3 * k];
        to[0] = tone_map(sums[k].x * share);
        to[1] = tone_map(sums[k].y * share);
        to[2] = tone_map(sums[k].z * share);
    }
}

void render_row(scene* s, const camera& cam, int samples, int y, int x0, int x1, row_workspace& work, float* row,
                ray_grouping grouping) {
    render_rows(s, cam, samples, y, 1, x0, x1, work, row, grouping);
}

void render_picture(scene* s, const camera& cam, int samples, int threads, const picture_target& out,
                    const progress_report& progress, ray_grouping grouping) {
    const int rows = out.y1 - out.y0;
    const int columns = out.x1 - out.x0;
    if (rows <= 0 || columns <= 0) return;
    if (threads <= 0) threads = static_cast<int>(std::thread::hardware_concurrency());
    threads = std::clamp(threads, 1, std::min(util::max_workers, rows));

    // Everything the threads need is allocated here, before any of them
    // starts, so running out of memory is the caller's exception.
    std::vector<row_workspace> spaces(static_cast<std::size_t>(threads), row_workspace(columns, band_rows));
    std::vector<std::vector<float>> row_buffers(static_cast<std::size_t>(threads),
                                                std::vector<float>(3 * static_cast<std::size_t>(columns) * band_rows));
    std::unique_ptr<std::atomic<bool>[]> finished(new std::atomic<bool>[static_cast<std::size_t>(rows)]);
    for (int y = 0; y < rows; ++y) finished[y].store(false, std::memory_order_relaxed);
    std::atomic<int> finished_count{0};

    // Rows go out in runs. A picture stored by column has neighbouring rows
    // in the same cache lines: two threads on rows y and y + 1 would keep
    // taking each column's line from each other. A run of rows shares lines
    // with its neighbours at its two edges only.
    std::atomic<int> next_row{0};

    // Only the calling thread reports; `ordered` moves on once every row up
    // to it is done, so reports come in the order one thread would make them.
    int ordered = 0;
    auto report = [&] {
        while (ordered < rows && finished[ordered].load(std::memory_order_acquire)) ++ordered;
        if (progress) progress({ordered, finished_count.load(std::memory_order_relaxed), rows});
    };

    // Claims runs of rows until none are left. A few rows at a time are
    // traced into rows of their own (render_rows), then copied to the target.
    auto work = [&](int worker) {
        row_workspace& space = spaces[static_cast<std::size_t>(worker)];
        float* band = row_buffers[static_cast<std::size_t>(worker)].data();
        for (;;) {
            const int first = next_row.fetch_add(rows_per_claim, std::memory_order_relaxed);
            if (first >= rows) return;
            const int end = std::min(first + rows_per_claim, rows);
            for (int top = first; top < end; top += band_rows) {
                const int height = std::min(band_rows, end - top);
                render_rows(s, cam, samples, out.y0 + top, height, out.x0, out.x1, space, band, grouping);
                for (int y = top; y < top + height; ++y) {
                    const float* row = band + 3 * static_cast<std::size_t>(columns) * static_cast<std::size_t>(y - top);
                    float* line = out.pixels + static_cast<std::size_t>(y) * out.row_stride;
                    for (int x = 0; x < columns; ++x)
                        for (int c = 0; c < 3; ++c)
                            line[static_cast<std::size_t>(x) * out.column_stride + static_cast<std::size_t>(c)] = row[3 * x + c];
                    finished[y].store(true, std::memory_order_release);
                    finished_count.fetch_add(1, std::memory_order_relaxed);
                }
                if (worker == 0) report();
            }
        }
    };

    std::vector<std::thread> helpers;
    helpers.reserve(static_cast<std::size_t>(threads - 1));
    for (int w = 1; w < threads; ++w) {
        try {
            helpers.emplace_back([&work, w] {
                util::current_worker = w;
                work(w);
            });
        } catch (const std::system_error&) {
            break;  // fewer helpers: the rows still all get done
        }
    }

    const int caller_worker = util::current_worker;
    util::current_worker = 0;
    work(0);
    for (std::thread& t : helpers) t.join();
    report();
    util::current_worker = caller_worker;
}

void render(const camera& cam, int samples, const picture_target& out, const progress_report& also) {
    std::printf("spawning rays");
    // The dots of a row of the 800 x 600 picture go out once that share of
    // this picture's rows is done from the top.
    int dotted = 0;
    render_picture(current_scene, cam, samples, 0, out, [&](const render_progress& p) {
        const int due = static_cast<int>(static_cast<long long>(p.ordered) * dot_rows / p.total);
        for (; dotted < due; ++dotted)
            for (int x = 0; x < dot_columns; ++x)
                if (progress_dot_before(x, dotted)) std::printf(".");
        if (also) also(p);
    });
    std::printf("done \n");
}

void render() {
    const camera cam = setup_camera();
    // Every hardware thread; the picture and the output are those of one.
    render(cam, 1, picture_by_columns(image, cam));
}
