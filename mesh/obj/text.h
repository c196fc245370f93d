#pragma once

// Reading the text: the start checks (a UTF-8 byte-order mark is skipped,
// UTF-16 refused), then units of whole lines cut from blocks of the input,
// or, where a line is longer than a block, that line piece by piece. Lines
// end with LF, CR LF or CR, and nothing is read past a NUL byte: the file is
// binary then. Bounded memory: the carry (the start of a line cut at the
// end of a read) and the units' buffers.

#include <cstddef>
#include <memory>

#include "mesh/obj/input.h"
#include "mesh/obj/words.h"

namespace obj {

// How the text after a unit's lines, or after a long line, goes on.
enum class text_end {
    more,          // with the next unit
    end_of_input,  // not at all: the input ended (its last line may lack a line end)
    nul_byte,      // with a NUL byte, in the line after
    read_error,    // not at all: reading failed, in the line after
};

enum class unit_kind { none, lines, long_line };

// A unit of text, in a buffer with room for two blocks.
struct text_unit {
    char* text = nullptr;
    std::size_t size = 0;  // the whole lines to parse, or a long line's first piece
    text_end end = text_end::more;
    int error = 0;  // for read_error: why, as an errno value
};

class text_reader {
public:
    text_reader(input& in, std::size_t block);

    // Reads the first bytes; false for UTF-16 text.
    bool start();

    // The next unit into u.text. A long line's first piece is all of the
    // block it starts; its other pieces come from line_pieces.
    unit_kind next(text_unit& u);

    // Every unit has been handed out.
    bool done() const { return done_; }

    // The rest of a long line, into `buffer` (room for a block); what
    // follows the line stays for the next unit.
    class line_pieces : public line_rest {
    public:
        line_pieces(text_reader& reader, char* buffer) : reader_(reader), buffer_(buffer) {}
        bool next(const char** begin, const char** end) override;
        // After the line: how the text goes on, and for read_error why.
        text_end end() const { return end_; }
        int error() const { return error_; }

    private:
        text_reader& reader_;
        char* buffer_;
        bool ended_ = false;
        text_end end_ = text_end::more;
        int error_ = 0;
    };

private:
    std::size_t fill(char* to, std::size_t n);
    text_end ending() const;
    void keep_for_next_unit(const char* from, std::size_t n);

    input& in_;
    const std::size_t block_;
    std::unique_ptr<char[]> carry_;  // the start of the next unit
    std::size_t carry_size_ = 0;
    char start_[3] = {0, 0, 0};      // read by the start checks, handed out first
    std::size_t start_size_ = 0;
    bool source_ended_ = false;      // the input has given all it will
    bool ended_ = false;             // fill gives nothing more
    bool at_nul_ = false;            // ... because of a NUL byte
    bool after_cr_ = false;          // the last byte handed out was a CR
    bool done_ = false;              // every unit has been handed out
};

}  // namespace obj
