#include "bench/scale_runs.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace {

using steady = std::chrono::steady_clock;

double seconds_since(steady::time_point start) { return std::chrono::duration<double>(steady::now() - start).count(); }

long long now_ns() {
    return static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(steady::now().time_since_epoch()).count());
}

// One picture of this many seconds is far enough off to say so without a
// second sample.
constexpr double slow_render = 10.0;

std::vector<char*> c_arguments(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    return args;
}

// The step a report line ends: what comes next.
void take_line(const std::string& line, long long spawned, side& s, const char*& step, bool& first_render) {
    long long a = 0, b = 0, c = 0;
    double seconds = 0.0;
    char kind[64];
    if (std::sscanf(line.c_str(), "mesh %lld %lld %lld", &a, &b, &c) == 3) {
        s.triangles = a, s.vertices = b, s.file_bytes = c;
    } else if (std::sscanf(line.c_str(), "load %lf", &seconds) == 1) {
        s.load.push_back(seconds);
        step = "build";
    } else if (std::sscanf(line.c_str(), "build %lf", &seconds) == 1) {
        s.build.push_back(seconds);
        step = "render";
    } else if (std::sscanf(line.c_str(), "render %63s %lf %lld", kind, &seconds, &a) == 3) {
        s.renders[kind].push_back(seconds);
        if (first_render) s.to_rendered.push_back(static_cast<double>(a - spawned) * 1e-9);
        first_render = false;
    } else if (line.rfind("error ", 0) == 0) {
        s.error = line.substr(6);
    }
}

}  // namespace

const std::vector<double>& side::render(const std::string& kind) const {
    static const std::vector<double> none;
    const auto it = renders.find(kind);
    return it == renders.end() ? none : it->second;
}

bool side::rendered() const {
    for (const auto& k : renders)
        if (!k.second.empty()) return true;
    return false;
}

void run_once(const std::vector<std::string>& argv, double timeout, side& s) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) {
        s.error = "pipe failed";
        return;
    }
    std::vector<char*> args = c_arguments(argv);
    std::fflush(nullptr);
    const long long spawned = now_ns();
    const steady::time_point start = steady::now();
    const pid_t child = fork();
    if (child < 0) {
        s.error = "fork failed";
        return;
    }
    if (child == 0) {
        dup2(pipe_fds[1], STDOUT_FILENO);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        execv(args[0], args.data());
        _exit(127);
    }
    close(pipe_fds[1]);

    std::string pending;
    const char* step = "load";
    steady::time_point step_start = start;
    bool timed_out = false;
    bool first_render = true;
    char buffer[4096];
    auto after = [](steady::time_point from, double seconds) {
        return from + std::chrono::duration_cast<steady::duration>(std::chrono::duration<double>(seconds));
    };
    steady::time_point deadline = after(start, run_limit);
    for (;;) {
        const double left = std::chrono::duration<double>(deadline - steady::now()).count();
        if (left <= 0.0) {
            timed_out = true;
            break;
        }
        pollfd p{pipe_fds[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::ceil(left * 1000.0))) <= 0) continue;
        const ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t line_end;
        while ((line_end = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, line_end);
            pending.erase(0, line_end + 1);
            step_start = steady::now();
            const char* was = step;
            take_line(line, spawned, s, step, first_render);
            if (was != step && std::string(step) == "render") deadline = after(step_start, timeout);
        }
    }
    const steady::time_point stopped_at = steady::now();
    if (timed_out) kill(child, SIGKILL);
    close(pipe_fds[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    ++s.runs;
    // ru_maxrss is in KiB on Linux.
    if (s.triangles >= 0) s.peak_bytes.push_back(static_cast<double>(usage.ru_maxrss) * 1024.0);
    if (timed_out) {
        s.stopped = step;
        s.stopped_after = std::chrono::duration<double>(stopped_at - step_start).count();
    } else if (s.error.empty() && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
        s.error = "run ended with status " + std::to_string(status);
    }
}

namespace {

std::string last(const std::vector<double>& v) { return v.empty() ? "-" : format("%.4f", v.back()); }

// Whether `s` gets another run: its first always; then while it is under
// the budget, and up to the minimum unless a render was very slow.
bool another_run(const side& s, const policy& p, double spent) {
    if (s.runs == 0) return true;
    if (s.runs >= p.max_runs || !s.stopped.empty() || !s.error.empty() || !s.rendered()) return false;
    if (spent < p.side_budget) return true;
    double slowest = 0.0;
    for (const auto& k : s.renders)
        for (double r : k.second) slowest = std::max(slowest, r);
    return s.runs < p.min_runs && slowest < slow_render;
}

void one_run(const child_command& command, const std::string& path, const policy& p, const std::string& label, side& s) {
    std::vector<std::string> argv = command.head;
    argv.insert(argv.end(), {path, std::to_string(p.rounds), std::to_string(p.render_budget)});
    argv.insert(argv.end(), command.tail.begin(), command.tail.end());
    run_once(argv, p.timeout, s);
    std::string renders;
    for (const auto& k : s.renders) renders += " " + k.first + " " + last(k.second);
    std::fprintf(stderr, "  %-44s run %d: load %s, build %s, render%s, peak %.0f MB%s%s\n", label.c_str(), s.runs,
                 last(s.load).c_str(), last(s.build).c_str(), renders.empty() ? " -" : renders.c_str(),
                 s.peak_bytes.empty() ? 0.0 : s.peak_bytes.back() / 1e6,
                 s.stopped.empty() ? "" : (", stopped in " + s.stopped + format(" after %.0f s", s.stopped_after)).c_str(),
                 s.error.empty() ? "" : (", " + s.error).c_str());
}

}  // namespace

side run_side(const child_command& command, const std::string& path, const policy& p, const std::string& label) {
    return run_sides_in_turn({command}, path, p, {label}).front();
}

std::vector<side> run_sides_in_turn(const std::vector<child_command>& commands, const std::string& path, const policy& p,
                                    const std::vector<std::string>& labels) {
    std::vector<side> sides(commands.size());
    std::vector<double> spent(commands.size(), 0.0);
    for (bool any = true; any;) {
        any = false;
        for (std::size_t k = 0; k < commands.size(); ++k) {
            if (!another_run(sides[k], p, spent[k])) continue;
            const steady::time_point start = steady::now();
            one_run(commands[k], path, p, labels[k], sides[k]);
            spent[k] += seconds_since(start);
            any = true;
        }
    }
    return sides;
}

program_run run_program(const std::vector<std::string>& argv) {
    std::vector<char*> args = c_arguments(argv);
    std::fflush(nullptr);
    const steady::time_point start = steady::now();
    const pid_t child = fork();
    if (child < 0) return {};
    if (child == 0) {
        const int null_device = open("/dev/null", O_WRONLY);
        if (null_device >= 0) dup2(null_device, STDOUT_FILENO);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    program_run r;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) r.seconds = seconds_since(start);
    r.peak_bytes = static_cast<double>(usage.ru_maxrss) * 1024.0;
    return r;
}

// --- what the tables show ----------------------------------------------------

summary summarise(std::vector<double> v) {
    summary s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    s.min = v.front();
    s.median = n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
    s.present = true;
    return s;
}

std::string format(const char* pattern, double a) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, a);
    return text;
}

std::string time_cell(const summary& s) {
    if (!s.present) return "";
    if (s.min < 1.0) return format("%.1f", s.min * 1e3) + " / " + format("%.1f ms", s.median * 1e3);
    return format("%.2f", s.min) + " / " + format("%.2f s", s.median);
}

std::string ratio_cell(const summary& ours, const summary& theirs) {
    if (!ours.present || !theirs.present) return "";
    return format("%.2fx", ours.min / theirs.min) + " / " + format("%.2fx", ours.median / theirs.median);
}

std::string with_stop(const summary& value, const side& s, const char* step) {
    if (value.present) return time_cell(value);
    if (s.stopped == step) return format("> %.0f s (stopped)", s.stopped_after);
    if (!s.error.empty()) return "failed";
    return "";
}

std::string render_ratio_cell(const summary& ours, const summary& theirs, const side& o) {
    if (ours.present) return ratio_cell(ours, theirs);
    if (theirs.present && o.stopped == "render") return format("> %.0fx", o.stopped_after / theirs.median);
    return "";
}

std::string thousands(long long n) {
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

double peak_per_triangle(const side& s) {
    if (s.peak_bytes.empty() || s.triangles <= 0) return 0.0;
    return *std::max_element(s.peak_bytes.begin(), s.peak_bytes.end()) / static_cast<double>(s.triangles);
}

std::string peak_cell(const side& s) {
    if (s.peak_bytes.empty() || s.triangles <= 0) return "";
    const double highest = *std::max_element(s.peak_bytes.begin(), s.peak_bytes.end());
    return format("%.0f", highest / static_cast<double>(s.triangles)) + " (" + format("%.2f GB)", highest / 1e9);
}
