#include "app/output.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <system_error>
#include <thread>

#include "app/memory_limit.h"
#include "app/timed_render.h"

namespace {

// Control characters in names become \xHH, each byte of them; everything
// else, other UTF-8 included, stays as it was.
TEST(output, printable_shows_control_characters_and_nothing_else_as_hex) {
    struct sample {
        std::string text, shown;
    };
    const sample samples[] = {
        {"cannot open bunny.obj: No such file or directory", "cannot open bunny.obj: No such file or directory"},
        {"C:\\meshes\\lapin \xc3\xa9t\xc3\xa9 \xc2\xa0~.obj", "C:\\meshes\\lapin \xc3\xa9t\xc3\xa9 \xc2\xa0~.obj"},
        {"two\nlines\r", "two\\x0alines\\x0d"},
        {"\x1b[31mred\x1b]0;title\x07", "\\x1b[31mred\\x1b]0;title\\x07"},
        {std::string("nul\0tab\tdel\x7f", 12), "nul\\x00tab\\x09del\\x7f"},
        {"csi \xc2\x9b" "2J, next line \xc2\x85", "csi \\xc2\\x9b2J, next line \\xc2\\x85"},
        {"lone \xc2", "lone \xc2"},
        {"", ""},
    };
    for (const sample& s : samples) EXPECT_EQ(printable(s.text), s.shown) << s.text;
}

// Where standard output goes, and what a run says at its end: each in a
// child process, whose standard streams it may break. The child's exit
// status is finish_output's, its standard error the line it printed.
struct ending {
    const char* name;
    std::function<void()> break_output;  // before start_output
    int status;                          // the run's own
    int exit_status;
    const char* error;                   // what standard error says
};

void write_into_a_closed_pipe() {
    int ends[2];
    if (pipe(ends) != 0) std::abort();
    close(ends[0]);
    dup2(ends[1], STDOUT_FILENO);
}

const ending endings[] = {
    {"written in full", [] { freopen("/dev/null", "w", stdout); }, 3, 3, "^the end\n$"},
    {"a reader that went away", write_into_a_closed_pipe, 0, 1,
     "^the end\nprogram: cannot write standard output: Broken pipe\n$"},
    {"standard output closed", [] { close(STDOUT_FILENO); }, 2, 2,
     "^the end\nprogram: cannot write standard output: Bad file descriptor\n$"},
};

TEST(output, runs_end_saying_whether_standard_output_was_written) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const ending& e : endings) {
        EXPECT_EXIT(
            {
                e.break_output();
                start_output();
                for (int k = 0; k < 10000; ++k) std::printf("progress %d\n", k);
                report_failure("the end");
                std::exit(finish_output("program", e.status));
            },
            testing::ExitedWithCode(e.exit_status), e.error)
            << e.name;
    }
}

// A standard stream closed when the run starts is held on /dev/null, so
// that no file opened later takes its number (and what is written there).
[[noreturn]] void open_a_file_after_closing(int fd) {
    close(fd);
    start_output();
    std::_Exit(open("/dev/null", O_RDONLY) > STDERR_FILENO ? 0 : 1);
}

TEST(output, closed_standard_streams_are_held) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        EXPECT_EXIT(open_a_file_after_closing(fd), testing::ExitedWithCode(0), "") << "descriptor " << fd;
}

TEST(timed_render, renders_once_between_the_clock_readings) {
    int renders = 0;
    testing::internal::CaptureStdout();
    timed_render([&] { ++renders; });
    EXPECT_EQ(renders, 1);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(printed == "completed in 0 seconds\n" || printed == "completed in 1 seconds\n") << printed;
}

// Under a data-size limit no helper thread starts while the guard lives;
// once it is gone they start again. Without a limit it changes nothing.
// Run in a child: exits 0 when all of that holds.
bool thread_starts() {
    try {
        std::thread([] {}).join();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

[[noreturn]] void start_threads_under(bool limited) {
    if (limited) {
        const rlimit data{rlim_t{1} << 40, rlim_t{1} << 40};
        if (setrlimit(RLIMIT_DATA, &data) != 0) std::exit(9);
    }
    bool held = false, during = false;
    {
        const one_thread_under_memory_limit guard;
        held = guard.held;
        during = thread_starts();
    }
    std::exit((held == limited ? 0 : 1) + (during == !limited ? 0 : 2) + (thread_starts() ? 0 : 4));
}

TEST(memory_limit, under_a_limit_threads_start_only_without_the_guard) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(start_threads_under(false), testing::ExitedWithCode(0), "");
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' own mappings count against a data-size limit";
#endif
    EXPECT_EXIT(start_threads_under(true), testing::ExitedWithCode(0), "");
}

}  // namespace
