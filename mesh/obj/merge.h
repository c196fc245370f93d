#pragma once

// Taking the text into the mesh in file order, unit by unit, and deciding
// which error wins: the first bad line of the file. A positive index naming
// a vertex not read yet can only be judged once the v lines below it have
// been counted, so a bad line below it waits until they have been, or until
// the text has ended. Everything here is touched only by the unit whose turn
// it is.

#include <deque>
#include <string>
#include <vector>

#include "mesh/mesh.h"
#include "mesh/obj/block.h"
#include "mesh/obj/problem.h"
#include "mesh/obj/text.h"
#include "mesh/obj/words.h"
#include "util/mapped_array.h"

namespace obj {

class merger {
public:
    explicit merger(const char* name) : name_(name) {}

    // Whole lines, with what a parse of them on their own made of them.
    void take_lines(const char* begin, const char* end, const block_result& r);
    // A line longer than a block: its words, and its pieces, to tell how it
    // ended.
    void take_long_line(line_words& w, const text_reader::line_pieces& pieces);
    // After each unit: how the text goes on after it (`read_error` is the
    // errno value of a failed read).
    void end_unit(text_end end, int read_error);
    // The text is refused from its first line.
    void refuse(const problem& why);
    void out_of_memory();

    // The outcome is known: nothing more need be read.
    bool finished() const { return finished_; }

    // Once every unit has been taken: the mesh on success, else false and
    // the message.
    bool hand_over(mesh* m, std::string* error);

private:
    struct exact_sink;

    // A positive index that names no vertex read so far.
    struct candidate {
        long long line;
        long long index;
        long long text;  // how it is written, in texts_; -1 for the plain number
    };

    bool bad_line(long long line, const problem& why);
    void note_candidate(long long line, long long index, word_text text);
    void finish(const std::string& message);
    void after_unit();

    const char* const name_;
    util::mapped_array<vector3> vertices_;
    util::mapped_array<face_corners> faces_;
    long long lines_ = 0;         // taken so far
    long long vertex_lines_ = 0;  // v lines, good or bad
    bool counting_ = false;       // a line is bad: the rest is only counted
    std::string first_bad_;       // that line's message
    bool finished_ = false;       // the outcome is known
    bool out_of_memory_ = false;
    std::string error_;
    // Positive indices naming vertices not read yet, in file order, each
    // larger than the one before (a later, smaller one could only fail
    // after it); settled as vertices arrive.
    std::deque<candidate> candidates_;
    std::vector<shown_word> texts_;
};

}  // namespace obj
