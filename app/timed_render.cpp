#include "app/timed_render.h"

#include <cstdint>
#include <cstdio>
#include <ctime>

void timed_render(const std::function<void()>& render_step) {
    const std::int64_t start = std::time(nullptr);
    render_step();
    const std::int64_t end = std::time(nullptr);
    // Whole seconds, reported as a signed 32-bit count.
    std::printf("completed in %ld seconds\n", static_cast<long>(static_cast<std::int32_t>(end - start)));
}
