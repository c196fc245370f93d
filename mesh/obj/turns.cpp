// Taking turns (turns.h).

#include "mesh/obj/turns.h"

#include <algorithm>
#include <new>
#include <system_error>

namespace obj {

void turns::wait_for(long long unit) {
    std::unique_lock<std::mutex> lock(lock_);
    changed_.wait(lock, [&] { return turn_ == unit; });
}

void turns::pass() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        ++turn_;
    }
    changed_.notify_all();
}

int helpers::count(int wanted) {
    // Beyond four threads the reading and the taking in, one at a time, are
    // what limits the speed; more would only cost stacks and buffers.
    constexpr int most_threads = 4;
    if (wanted > 0) return wanted;
    return std::max(1, std::min(most_threads, static_cast<int>(std::thread::hardware_concurrency())));
}

void helpers::start(int n, const std::function<void()>& work) {
    for (int i = 0; i < n; ++i) {
        try {
            threads_.emplace_back(work);
        } catch (const std::system_error&) {
            return;
        } catch (const std::bad_alloc&) {
            return;
        }
    }
}

void helpers::join() {
    for (std::thread& t : threads_) t.join();
    threads_.clear();
}

}  // namespace obj
