#pragma once

#include <atomic>
#include <exception>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "util/index_range.h"

namespace util {

// Cuts `whole` into `chunks` pieces (piece(), index_range.h) and runs
// body(chunk, run) for each, `chunk` counting from 0, on up to `threads`
// threads, the calling one included; when no thread can be started it does
// the rest itself. The pieces depend on `chunks` only, never on the
// threads, so a body that keeps one result per chunk gets the same results
// on any number of threads. With `chunks` equal to the size of `whole`,
// each chunk is one index. The first exception a chunk throws (out of
// memory, say) is rethrown here once every thread has stopped.
template <typename body_type>
void parallel_for(index_range whole, int chunks, int threads, const body_type& body) {
    std::atomic<int> next{0};
    std::exception_ptr failure;
    std::atomic<bool> failed{false};
    auto work = [&] {
        for (int chunk; !failed.load(std::memory_order_relaxed) && (chunk = next.fetch_add(1)) < chunks;) {
            try {
                body(chunk, piece(whole, chunk, chunks));
            } catch (...) {
                if (!failed.exchange(true)) failure = std::current_exception();
            }
        }
    };
    std::vector<std::thread> helpers;
    try {
        for (int t = 1; t < threads && t < chunks; ++t) helpers.emplace_back(work);
    } catch (const std::system_error&) {  // fewer helpers: the chunks still all get done
    } catch (const std::bad_alloc&) {
    }
    work();
    for (std::thread& t : helpers) t.join();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace util
