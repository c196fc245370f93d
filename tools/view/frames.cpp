#include "tools/view/frames.h"

#include <csignal>
#include <system_error>

#include <pthread.h>

#include "render/render.h"
#include "util/worker.h"

frame_renderer::frame_renderer(scene* s, int threads, int widest) : scene_(s), widest_(widest) {
    // The workers leave the signals that end a run to the other threads:
    // the event loop's (SDL makes SIGINT and SIGTERM a quit request).
    sigset_t blocked, before;
    sigemptyset(&blocked);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&blocked, signal_number);
    pthread_sigmask(SIG_BLOCK, &blocked, &before);
    for (int w = 1; w <= threads && w < util::max_workers; ++w) {
        try {
            threads_.emplace_back([this, w] { work(w); });
        } catch (const std::system_error&) {
            break;  // fewer workers: every frame still gets done
        }
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (threads_.empty()) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

frame_renderer::~frame_renderer() {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
        generation_.fetch_add(1, std::memory_order_relaxed);
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
}

// A frame no worker is inside: the current one is being replaced, and an
// abandoned one may still have a worker finishing its row.
frame* frame_renderer::unused_frame() {
    for (const std::unique_ptr<frame>& f : frames_)
        if (f->users == 0) return f.get();
    frames_.push_back(std::make_unique<frame>());
    return frames_.back().get();
}

const frame& frame_renderer::start(const camera& cam) {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        // Workers leave the frame under way before this one is touched.
        generation_.fetch_add(1, std::memory_order_relaxed);
        frame* f = unused_frame();
        f->cam = cam;
        f->pixels.resize(3 * static_cast<std::size_t>(cam.width) * static_cast<std::size_t>(cam.height));
        if (f->rows_held < cam.height) {
            f->row_done.reset(new std::atomic<bool>[static_cast<std::size_t>(cam.height)]);
            f->rows_held = cam.height;
        }
        for (int y = 0; y < cam.height; ++y) f->row_done[y].store(false, std::memory_order_relaxed);
        f->next_row.store(0, std::memory_order_relaxed);
        f->rows_done.store(0, std::memory_order_relaxed);
        current_ = f;
    }
    wake_.notify_all();
    return *current_;
}

bool frame_renderer::wait(std::chrono::microseconds most) {
    std::unique_lock<std::mutex> hold(lock_);
    const frame* f = current_;
    return f && done_.wait_for(hold, most, [f] { return f->complete(); });
}

void frame_renderer::work(int worker) {
    util::current_worker = worker;
    row_workspace space(widest_);
    long seen = 0;
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        wake_.wait(hold, [&] { return stopping_ || (current_ && generation_.load(std::memory_order_relaxed) != seen); });
        if (stopping_) return;
        seen = generation_.load(std::memory_order_relaxed);
        frame* f = current_;
        ++f->users;
        hold.unlock();

        // Rows one at a time, until none is left or another frame starts.
        const int width = f->cam.width;
        const int height = f->cam.height;
        while (generation_.load(std::memory_order_relaxed) == seen) {
            const int y = f->next_row.fetch_add(1, std::memory_order_relaxed);
            if (y >= height) break;
            render_row(scene_, f->cam, 1, y, 0, width, space,
                       &f->pixels[3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(y)]);
            f->row_done[y].store(true, std::memory_order_release);
            if (f->rows_done.fetch_add(1, std::memory_order_acq_rel) + 1 == height) {
                const std::lock_guard<std::mutex> tell(lock_);
                done_.notify_all();
            }
        }

        hold.lock();
        --f->users;
    }
}
