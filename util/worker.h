#pragma once

namespace util {

// Threads that trace one scene at the same time each run as a distinct
// worker, and an object that remembers something about its latest hit (the
// model's last_hit) keeps one memory per worker, so no two threads ever
// share one. The main thread is worker 0; the parallel render numbers its
// helper threads from 1 and never runs more than max_workers at once.
constexpr int max_workers = 64;

inline thread_local int current_worker = 0;

}  // namespace util
