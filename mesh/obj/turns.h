#pragma once

// Taking turns: units are numbered in the order they are read, and unit k
// is taken in once units 0 .. k-1 have been, whichever thread parsed it.
// Any thread may call a stop; the turns are still passed, in order, so
// that no thread waits for ever.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace obj {

class turns {
public:
    void wait_for(long long unit);
    void pass();
    void stop() { stopped_ = true; }
    bool stopped() const { return stopped_; }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    long long turn_ = 0;
    std::atomic<bool> stopped_{false};
};

// The threads besides the caller's.
class helpers {
public:
    // How many threads a load runs on, the caller's included: `wanted`, or
    // for 0 every hardware thread up to a few.
    static int count(int wanted);

    // Starts up to `n` threads running `work`; fewer when the system
    // will not start more, which changes nothing but the speed.
    void start(int n, const std::function<void()>& work);
    void join();

private:
    std::vector<std::thread> threads_;
};

}  // namespace obj
