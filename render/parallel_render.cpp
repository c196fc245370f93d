#include "render/parallel_render.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <system_error>
#include <thread>
#include <vector>

#include "app/image.h"
#include "render/render.h"
#include "scene/large_allocator.h"
#include "scene/worker.h"

namespace {

// Rows per claim: a few cache lines of each column, and still small beside
// one thread's share, so the threads finish close together.
constexpr int rows_per_claim = 16;

}  // namespace

void render_rows(scene* s, const camera& cam, int threads, bool show_progress) {
    if (threads <= 0) threads = static_cast<int>(std::thread::hardware_concurrency());
    threads = std::clamp(threads, 1, std::min(max_workers, image_height));

    // The picture is written once, by every thread; huge pages save the
    // first-touch faults of its 5.8 MB, where the system offers them.
    advise_huge_pages(image, sizeof image);

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

    // Claims runs of rows until none are left.
    auto work = [&](bool prints) {
        for (;;) {
            const int first = next_row.fetch_add(rows_per_claim, std::memory_order_relaxed);
            if (first >= image_height) return;
            const int end = std::min(first + rows_per_claim, image_height);
            for (int y = first; y < end; ++y) {
                render_row(s, cam, y, false);
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
                current_worker = w;
                work(false);
            });
        } catch (const std::system_error&) {
            break;  // fewer helpers: the rows still all get done
        }
    }

    const int caller_worker = current_worker;
    current_worker = 0;
    work(show_progress);
    for (std::thread& t : helpers) t.join();
    if (show_progress) print_finished_rows();
    current_worker = caller_worker;
}
