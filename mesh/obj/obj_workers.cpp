// The threads of a load: each reads a unit under the read lock, parses it
// on its own, then waits for its turn to take it in; a long line is read
// and taken in at its turn, under the read lock. Helpers start once the
// text turns out to be longer than one block.

#include <new>
#include <system_error>

#include "mesh/obj/obj_loader.h"

namespace obj {

namespace {

// Beyond four threads the reading and the taking in, one at a time, are
// what limits the speed; more would only cost stacks and buffers.
constexpr int most_threads = 4;

}  // namespace

void loader::wait_for_turn(long long sequence) {
    std::unique_lock<std::mutex> lock(turn_lock_);
    turn_changed_.wait(lock, [&] { return turn_ == sequence; });
}

void loader::pass_turn() {
    {
        std::lock_guard<std::mutex> lock(turn_lock_);
        ++turn_;
    }
    turn_changed_.notify_all();
}

void loader::start_helpers() {
    const int wanted =
        threads_ > 0 ? threads_ : std::min(most_threads, static_cast<int>(std::thread::hardware_concurrency()));
    for (int i = 1; i < wanted; ++i) {
        try {
            helpers_.emplace_back([this] { work(false); });
        } catch (const std::system_error&) {
            break;  // fewer threads, same result
        } catch (const std::bad_alloc&) {
            break;
        }
    }
}

void loader::work(bool caller) {
    unit u;
    if (!u.buffer.reserve(2 * block_)) {
        if (caller) oom_ = true;  // before any helper exists
        return;
    }
    u.text = u.buffer.data();
    for (;;) {
        long long sequence = 0;
        bool start = false;
        {
            std::unique_lock<std::mutex> lock(read_lock_);
            if (stop_) return;
            const unit_kind kind = read_unit(u);
            if (kind == unit_kind::none) return;
            sequence = units_read_++;
            if (kind == unit_kind::long_line) {
                // Read at its turn, under the read lock: nothing else can be
                // read before this line ends anyway.
                wait_for_turn(sequence);
                try {
                    if (!stop_) take_long_line(u);
                } catch (const std::bad_alloc&) {
                    out_of_memory();
                }
                pass_turn();
                continue;
            }
            start = caller && !helpers_wanted_ && !input_done_;
            if (start) helpers_wanted_ = true;
        }
        if (start) start_helpers();
        parse_block(u.text, u.text + u.parse_end, u.result);
        wait_for_turn(sequence);
        try {
            if (u.result.out_of_memory) out_of_memory();
            if (!stop_) take_block(u);
        } catch (const std::bad_alloc&) {
            out_of_memory();
        }
        pass_turn();
    }
}

}  // namespace obj
