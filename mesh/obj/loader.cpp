// One load (loader.h): the threads' work, from reading a unit to taking it in.

#include "mesh/obj/loader.h"

#include <algorithm>
#include <mutex>
#include <new>

#include "mesh/obj/block.h"
#include "mesh/obj/merge.h"
#include "mesh/obj/problem.h"
#include "mesh/obj/text.h"
#include "mesh/obj/turns.h"
#include "util/mapped_array.h"

namespace obj {

namespace {

// Blocks up to 1 GiB keep every count within a unit (two blocks at most)
// in 32 bits.
constexpr std::size_t largest_block = std::size_t{1} << 30;

class loader {
public:
    loader(input& in, const char* name, std::size_t block, int threads)
        : block_(std::clamp<std::size_t>(block, 1, largest_block)), threads_(helpers::count(threads)),
          reader_(in, block_), merger_(name) {}

    bool run(mesh* m, std::string* error) {
        if (!reader_.start()) {
            merger_.refuse(problem(problem::kind::utf16));
        } else {
            work(true);
            helpers_.join();
        }
        return merger_.hand_over(m, error);
    }

private:
    // A thread's own: its buffer (room for two blocks: a unit is a block
    // and the start of a line carried over) and what it parses there.
    struct unit {
        util::growing_mapping buffer;
        text_unit text;
        block_result result;
    };

    void work(bool caller) {
        unit u;
        if (!u.buffer.reserve(2 * block_) || !u.result.reserve(2 * block_)) {
            if (caller) merger_.out_of_memory();  // before any helper exists
            return;
        }
        u.text.text = u.buffer.data();
        for (;;) {
            long long sequence = 0;
            bool start_helpers = false;
            {
                std::lock_guard<std::mutex> lock(read_lock_);
                if (turns_.stopped()) return;
                const unit_kind kind = reader_.next(u.text);
                if (kind == unit_kind::none) return;
                sequence = units_read_++;
                if (kind == unit_kind::long_line) {
                    // Read at its turn, under the read lock: nothing else
                    // can be read before the line ends anyway.
                    take_turn(sequence, [&] { take_long_line(u.text); });
                    continue;
                }
                // Helpers only once the text turns out longer than a block.
                start_helpers = caller && !helpers_started_ && !reader_.done();
                helpers_started_ = helpers_started_ || start_helpers;
            }
            if (start_helpers) helpers_.start(threads_ - 1, [this] { work(false); });
            parse_block(u.text.text, u.text.text + u.text.size, u.result);
            take_turn(sequence, [&] {
                merger_.take_lines(u.text.text, u.text.text + u.text.size, u.result);
                merger_.end_unit(u.text.end, u.text.error);
            });
        }
    }

    void take_long_line(const text_unit& u) {
        text_reader::line_pieces pieces(reader_, u.text);
        line_words w(u.text, u.text + u.size, &pieces);
        merger_.take_long_line(w, pieces);
        merger_.end_unit(pieces.end(), pieces.error());
    }

    template <typename taking>
    void take_turn(long long sequence, const taking& take) {
        turns_.wait_for(sequence);
        if (!turns_.stopped()) {
            try {
                take();
            } catch (const std::bad_alloc&) {
                merger_.out_of_memory();
            }
            if (merger_.finished()) turns_.stop();
        }
        turns_.pass();
    }

    const std::size_t block_;
    const int threads_;
    std::mutex read_lock_;  // over reader_, units_read_ and helpers_started_
    text_reader reader_;
    long long units_read_ = 0;
    bool helpers_started_ = false;
    turns turns_;
    helpers helpers_;
    merger merger_;
};

}  // namespace

bool read_obj(input& in, const char* name, mesh* m, std::string* error, std::size_t block, int threads) {
    try {
        return loader(in, name, block, threads).run(m, error);
    } catch (const std::bad_alloc&) {  // the loader's own buffers
        if (error) *error = out_of_memory_message(name, 0);
        return false;
    }
}

}  // namespace obj
