#pragma once

// Records of one size converted on several threads at once: a run is cut
// into one part per thread, each part converted in order, and the run is
// taken up to the first record a part could not take (a bad value, or a
// record not of the size assumed). A part stops early once a part before
// it has stopped: what follows is not taken anyway.

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "util/parallel_for.h"

// How runs are cut. The defaults suit files of any size; the tests make
// them small to reach every path with small files.
struct run_tuning {
    int threads = 0;                    // 0: every hardware thread, up to four
    long long window = 1 << 20;         // records in one run at most
    long long part_least = 1 << 14;     // records in one part at least
};

inline int run_threads(const run_tuning& t) {
    if (t.threads > 0) return t.threads;
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
}

// Calls convert(begin, end) over [0, n) in parts on several threads;
// convert converts those records and returns the first one it could not
// take (`end` when it took them all). Returns how many records, from 0,
// were taken.
template <typename convert_fn>
long long convert_run(long long n, const run_tuning& t, const convert_fn& convert) {
    const long long parts = std::clamp<long long>(n / std::max<long long>(t.part_least, 1), 1, std::min(run_threads(t), 64));
    constexpr long long slice = 1 << 10;  // a part looks at the others this often
    std::atomic<long long> first_stopped{parts};
    std::vector<long long> stopped_at(static_cast<std::size_t>(parts));
    util::parallel_for({0, static_cast<int>(parts)}, static_cast<int>(parts), static_cast<int>(parts), [&](int part, util::index_range) {
        const long long begin = n * part / parts, end = n * (part + 1) / parts;
        long long at = begin;
        while (at < end && first_stopped.load(std::memory_order_relaxed) > part) {
            const long long until = std::min(end, at + slice);
            const long long stop = convert(at, until);
            at = stop;
            if (stop < until) {
                long long seen = first_stopped.load();
                while (seen > part && !first_stopped.compare_exchange_weak(seen, part)) {
                }
                break;
            }
        }
        stopped_at[static_cast<std::size_t>(part)] = at;
    });
    for (long long part = 0; part < parts; ++part)
        if (stopped_at[static_cast<std::size_t>(part)] < n * (part + 1) / parts) return stopped_at[static_cast<std::size_t>(part)];
    return n;
}
