#pragma once

// One load. The text is read in blocks of whole lines (obj_text.cpp).
// Blocks are parsed on several threads at once, each knowing nothing of the
// others (obj_block.h, obj_workers.cpp); they are then taken into the mesh
// one by one in file order, so the first bad line is the one reported
// (obj_merge.cpp). A block whose meaning depends on what came before (an
// error, an index naming a vertex it does not hold) is parsed again at its
// turn, knowing everything above it. A line longer than a block is parsed in
// pieces as it is read, at its turn (obj_long_line.cpp).

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mesh/mesh.h"
#include "util/mapped_array.h"
#include "mesh/obj/obj_block.h"
#include "mesh/obj/obj_words.h"

namespace obj {

// The text, from a stream or from memory.
struct input {
    virtual ~input() = default;
    // Up to `n` bytes; fewer only at the end or on an error.
    virtual std::size_t read(char* to, std::size_t n) = 0;
    virtual int error() const { return 0; }
};

// A positive index that names no vertex read so far.
struct candidate {
    long long line;
    long long index;
    long long text;  // how the index is written, in loader::texts_; -1 for the plain number
};

class loader {
public:
    loader(input& in, const char* name, std::size_t block, int threads)
        : in_(in), name_(name), block_(std::max<std::size_t>(block, 1)), threads_(threads) {}

    bool run(mesh* m, std::string* error);

    // The sink of everything taken in at its turn: it knows the whole file
    // above the line it is given.
    struct exact_sink {
        using slot = std::int32_t;
        loader& l;
        std::string* held = nullptr;  // where a line's first failure waits, if it must

        bool counting() const { return l.counting_; }
        bool halted() const { return l.finished_; }
        void vertex_line_seen() { ++l.vertex_lines_; }
        template <typename message>
        bool fail(long long line, const message& what) {
            if (!held) return l.fail_at(l.lines_ + line, what());
            if (held->empty()) *held = what();
            return false;
        }
        bool vertex(const vector3& v) { return l.vertices_.push(v) || l.out_of_memory(); }
        bool resolve(long long index, const word_text& text, long long line, slot* out);
        bool face(slot a, slot b, slot c) { return l.faces_.push(face_corners{{a, b, c}}) || l.out_of_memory(); }
    };

private:
    struct unit {
        util::growing_mapping buffer;
        char* text = nullptr;
        std::size_t size = 0;
        std::size_t parse_end = 0;  // the lines before a NUL byte end here
        bool nul = false;           // the line after parse_end holds a NUL byte
        block_result result;
    };
    enum class unit_kind { none, block, long_line };

    // Reading (obj_text.cpp).
    bool read_start(std::string* error);
    std::size_t fill(char* to, std::size_t n);
    unit_kind read_unit(unit& u);
    std::size_t last_line_end(const char* text, std::size_t size) const;

    // Threads (obj_workers.cpp).
    void work(bool caller);
    void start_helpers();
    void wait_for_turn(long long sequence);
    void pass_turn();

    // Taking in, in file order (obj_merge.cpp, obj_long_line.cpp).
    void take_block(unit& u);
    void take_long_line(unit& u);
    void take_nul(long long line);
    void count_vertex_lines(const char* p, const char* end);
    bool fail_at(long long line, const std::string& what);
    bool out_of_memory();
    void finish_error(const std::string& message);
    void after_unit();
    std::string candidate_message(const candidate& c) const;
    void check_counts();
    std::string failure() const;

    // Reading: under read_lock_.
    input& in_;
    const char* name_;
    const std::size_t block_;
    const int threads_;
    std::mutex read_lock_;
    std::unique_ptr<char[]> carry_;
    std::size_t carry_size_ = 0;
    char start_[3] = {0, 0, 0};
    std::size_t start_size_ = 0;
    bool source_ended_ = false;  // the input has given all it has
    bool input_ended_ = false;   // nothing more comes from fill()
    bool ended_at_nul_ = false;  // ... because of a NUL byte
    bool input_done_ = false;    // every unit has been handed out
    bool drop_lf_ = false;       // the last unit ended with CR: an LF next is part of it
    long long units_read_ = 0;
    bool helpers_wanted_ = false;
    std::vector<std::thread> helpers_;

    // Turns: unit k is taken in once units 0 .. k-1 have been.
    std::mutex turn_lock_;
    std::condition_variable turn_changed_;
    long long turn_ = 0;
    std::atomic<bool> stop_{false};

    // What has been taken in: touched only by the unit whose turn it is.
    util::mapped_array<vector3> vertices_;
    util::mapped_array<face_corners> faces_;
    long long lines_ = 0;
    long long vertex_lines_ = 0;
    bool counting_ = false;      // a line is bad: only v lines are counted now
    std::string first_bad_;      // that line's message
    bool finished_ = false;      // the outcome is known
    bool oom_ = false;
    std::string error_;
    // Positive indices naming vertices not read yet, in file order, each
    // larger than the one before (a later, smaller one could only fail
    // after it); pruned as vertices arrive.
    std::deque<candidate> candidates_;
    std::vector<std::string> texts_;
};

}  // namespace obj
