#include "util/parallel_for.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <vector>

#include "tests/support/failing_allocations.h"

// Every chunk runs once, with its piece of the range: the pieces follow one
// another from begin to end, none empty unless there are more chunks than
// indices, their lengths at most one apart, the same on any thread count.
TEST(parallel_for, chunks_cover_the_range_in_order_evenly_on_any_thread_count) {
    const struct {
        util::index_range whole;
        int chunks;
    } cases[] = {{{0, 10}, 3}, {{5, 6}, 1}, {{-7, 1000003}, 7}, {{0, 3}, 8}, {{100, 100}, 4}, {{0, 2000000000}, 3}};
    for (const auto& c : cases) {
        for (int threads : {1, 2, 8}) {
            std::vector<util::index_range> seen(static_cast<std::size_t>(c.chunks), {0, -1});
            std::vector<int> calls(static_cast<std::size_t>(c.chunks), 0);
            util::parallel_for(c.whole, c.chunks, threads, [&](int chunk, util::index_range run) {
                seen[static_cast<std::size_t>(chunk)] = run;
                ++calls[static_cast<std::size_t>(chunk)];
            });
            int at = c.whole.begin, shortest = c.whole.size(), longest = 0;
            for (int k = 0; k < c.chunks; ++k) {
                EXPECT_EQ(calls[static_cast<std::size_t>(k)], 1);
                const util::index_range run = seen[static_cast<std::size_t>(k)];
                EXPECT_EQ(run.begin, at) << "chunk " << k << " of " << c.chunks;
                at = run.end;
                shortest = std::min(shortest, run.size());
                longest = std::max(longest, run.size());
            }
            EXPECT_EQ(at, c.whole.end);
            EXPECT_LE(longest - shortest, 1);
        }
    }
}

// The first exception a chunk throws comes out of the call, once the
// threads have stopped; chunks not yet started are not run.
TEST(parallel_for, a_chunk_that_throws_stops_the_loop_and_the_exception_comes_out) {
    for (int threads : {1, 2}) {
        std::atomic<int> ran{0};
        EXPECT_THROW(util::parallel_for({0, 1000}, 1000, threads,
                                        [&](int chunk, util::index_range) {
                                            ++ran;
                                            if (chunk == 3) throw std::length_error("chunk 3");
                                        }),
                     std::length_error);
        EXPECT_LT(ran.load(), 1000);
    }
}

// Helpers that cannot be made (memory runs out for a thread's record, or
// for the list of them) leave the work to the threads there are: every
// chunk still runs once.
TEST(parallel_for, when_no_helper_can_start_the_caller_does_it_all) {
    for (long k = 0; k < 4; ++k) {
        std::vector<int> calls(64, 0);
        {
            failing_allocations::armed failing(k);
            util::parallel_for({0, 64}, 64, 4, [&](int chunk, util::index_range) { ++calls[static_cast<std::size_t>(chunk)]; });
        }
        EXPECT_EQ(std::count(calls.begin(), calls.end(), 1), 64) << "allocation " << k;
    }
}
