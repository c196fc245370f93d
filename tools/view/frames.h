#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "render/camera.h"
#include "scene/scene.h"

// One picture the workers render: the whole picture of `cam`, stored by
// row, three floats a pixel as render_row leaves them. Row y may be read
// once done(y) holds.
struct frame {
    camera cam;
    std::vector<float> pixels;
    std::unique_ptr<std::atomic<bool>[]> row_done;
    std::atomic<int> next_row{0};
    std::atomic<int> rows_done{0};
    int rows_held = 0;  // the length of row_done
    int users = 0;      // workers inside it, under the renderer's lock

    bool done(int y) const { return row_done[y].load(std::memory_order_acquire); }
    bool complete() const { return rows_done.load(std::memory_order_acquire) == cam.height; }
    const float* row(int y) const { return &pixels[3 * static_cast<std::size_t>(cam.width) * static_cast<std::size_t>(y)]; }
};

// Worker threads that render one frame at a time, for a viewer whose event
// loop must stay free. Starting a frame abandons the one under way: its
// workers leave it between rows (a row of the bunny takes a tenth of a
// millisecond) and come to the new one. Each worker is a worker of its own
// (scene/worker.h), numbered from 1, so the calling thread may stay worker
// 0; a row's pixels are those render_row gives whatever worker renders it.
class frame_renderer {
public:
    // Starts up to `threads` workers on `s` (at least one must start: throws
    // std::system_error otherwise), each with room for rows `widest` wide.
    frame_renderer(scene* s, int threads, int widest);
    ~frame_renderer();
    frame_renderer(const frame_renderer&) = delete;
    frame_renderer& operator=(const frame_renderer&) = delete;

    // Starts rendering the whole picture of `cam` (one sample a pixel, at
    // most `widest` wide) and returns the frame it fills, valid until the
    // next start. Throws std::bad_alloc when its pixels do not fit.
    const frame& start(const camera& cam);

    // Waits until the frame started last is complete, or for `most` at the
    // longest; true when it is complete.
    bool wait(std::chrono::microseconds most);

    int workers() const { return static_cast<int>(threads_.size()); }

private:
    void work(int worker);
    frame* unused_frame();

    scene* scene_;
    int widest_;
    std::mutex lock_;
    std::condition_variable wake_;  // workers: a frame started, or stop
    std::condition_variable done_;  // the caller: the frame is complete
    std::vector<std::unique_ptr<frame>> frames_;
    frame* current_ = nullptr;
    std::atomic<long> generation_{0};  // changed under the lock, read by workers between rows
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};
