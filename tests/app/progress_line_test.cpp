// app/progress_line.cpp: what a long render draws on a terminal, driven
// with made-up times.

#include "app/progress_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Everything drawn, read back from a stream in memory.
struct drawing {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&text, &size);
    ~drawing() {
        std::fclose(stream);
        std::free(text);
    }
    std::string so_far() {
        std::fflush(stream);
        return std::string(text, size);
    }
};

}  // namespace

TEST(progress_line, draws_after_a_second_at_most_four_times_a_second_and_erases_itself) {
    drawing d;
    progress_line line(d.stream);
    const struct {
        int finished;
        double seconds;
        std::string adds;  // what this report draws
    } steps[] = {
        {10, 0.5, ""},                                            // a short render shows nothing
        {30, 1.5, "\rrendering: 30% done, about 4 s left"},       // 1.5 s x 70/30 = 3.5 s
        {31, 1.6, ""},                                            // too soon after the last
        {50, 1.75, "\rrendering: 50% done, about 2 s left"},
        {1, 120.0, "\rrendering: 1% done, about 198 min left"},   // 99 x 120 s
        {99, 130.0, "\rrendering: 99% done, about 2 s left   "},  // spaces over the longer line
        {100, 130.1, "\r" + std::string(38, ' ') + "\r"},
    };
    std::string expected;
    for (const auto& s : steps) {
        line.update({0, s.finished, 100}, s.seconds);
        expected += s.adds;
        EXPECT_EQ(d.so_far(), expected) << s.finished << " rows at " << s.seconds << " s";
    }
}
