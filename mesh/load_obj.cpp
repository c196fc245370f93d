#include "mesh/load_obj.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "mesh/obj_words.h"

// The text is read in blocks of whole lines. Blocks are parsed on several
// threads at once, each knowing nothing of the others; they are then taken
// into the mesh one by one in file order, so the first bad line is the one
// reported. A block whose meaning depends on what came before (an error,
// an index naming a vertex it does not hold) is parsed again at its turn,
// knowing everything above it. A line longer than a block is parsed in
// pieces as it is read, at its turn.

namespace {

#if defined(__SANITIZE_THREAD__)
constexpr bool under_thread_sanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool under_thread_sanitizer = true;
#else
constexpr bool under_thread_sanitizer = false;
#endif
#else
constexpr bool under_thread_sanitizer = false;
#endif

// ---------------------------------------------------------------------------
// Mesh arrays: anonymous mappings that the kernel grows in place or moves
// (mremap), so a growing array is never copied and never needs twice its
// size; at the end they are trimmed to the page.

std::size_t page_round(std::size_t bytes) {
    static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return (std::max<std::size_t>(bytes, 1) + page - 1) / page * page;
}

class growing_mapping {
public:
    growing_mapping() = default;
    growing_mapping(const growing_mapping&) = delete;
    growing_mapping& operator=(const growing_mapping&) = delete;
    ~growing_mapping() {
        if (data_) munmap(data_, capacity_);
    }

    char* data() const { return data_; }

    // Room for `bytes` in all; false when no more memory is to be had.
    bool reserve(std::size_t bytes) {
        if (bytes <= capacity_) return true;
        // Half as much again each time, while the system allows it.
        const std::size_t wanted = page_round(std::max({bytes, capacity_ + capacity_ / 2, std::size_t{64} << 10}));
        return grow(wanted) || grow(page_round(bytes));
    }

    // Trims the mapping to `bytes` and hands it over.
    void* release(std::size_t bytes) {
        if (!data_ && !grow(page_round(bytes))) return nullptr;
        const std::size_t size = page_round(bytes);
        if (size < capacity_) munmap(data_ + size, capacity_ - size);
        void* p = data_;
        data_ = nullptr;
        capacity_ = 0;
        return p;
    }

private:
    bool grow(std::size_t size) {
        void* p = data_ && !under_thread_sanitizer
                      ? mremap(data_, capacity_, size, MREMAP_MAYMOVE)
                      : mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return false;
        if (data_ && under_thread_sanitizer) {
            // ThreadSanitizer does not see mremap: it would remember the
            // accesses to a moved range at its old address, and take later
            // mappings there for memory still shared. Copying and unmapping
            // tells it.
            std::memcpy(p, data_, capacity_);
            munmap(data_, capacity_);
        }
        data_ = static_cast<char*>(p);
        capacity_ = size;
        return true;
    }

    char* data_ = nullptr;
    std::size_t capacity_ = 0;
};

// The mesh's arrays, and the loader's own scratch: helper threads then never
// call malloc, which would give each one an arena of 64 MiB of address space.
template <typename T>
class mesh_array {
public:
    std::int64_t size() const { return size_; }
    void clear() { size_ = 0; }
    T* data() const { return reinterpret_cast<T*>(map_.data()); }
    bool reserve(std::int64_t count) { return map_.reserve(static_cast<std::size_t>(count) * sizeof(T)); }
    bool push(const T& value) {
        if (!reserve(size_ + 1)) return false;
        data()[size_++] = value;
        return true;
    }
    bool append(const T* values, std::size_t count) {
        if (!reserve(size_ + static_cast<std::int64_t>(count))) return false;
        if (count > 0) std::memcpy(data() + size_, values, count * sizeof(T));
        size_ += static_cast<std::int64_t>(count);
        return true;
    }
    T* release() { return static_cast<T*>(map_.release(static_cast<std::size_t>(size_) * sizeof(T))); }

private:
    growing_mapping map_;
    std::int64_t size_ = 0;
};

// ---------------------------------------------------------------------------
// Messages.

const char* const not_a_corner = " is not a face corner (i, i/t, i//n or i/t/n, decimal)";

std::string number_message(number_status status, const word_text& word) {
    return word.quoted() + (status == number_status::not_a_number ? " is not a number" : " is not a finite number");
}

std::string too_large_message(const word_text& word) { return word.quoted() + " is too large to scale by 5000"; }

// ---------------------------------------------------------------------------
// A polygon becomes the fan (1, k, k+1), corners in the order the line names
// them: that order decides which side of the triangle faces out.
template <typename sink>
struct fan {
    typename sink::slot first{}, previous{};
    long long corners = 0;

    bool add(sink& s, typename sink::slot slot) {
        if (corners == 0) first = slot;
        else if (corners >= 2 && !s.face(first, previous, slot)) return false;
        previous = slot;
        ++corners;
        return true;
    }
};

// ---------------------------------------------------------------------------
// Whole lines: [p, end) holds complete lines (the last one may lack its line
// end). The sink takes the vertices and faces and judges the indices; it
// returns false where the parse must stop.

const char* skip_blanks(const char* p, const char* end) {
    while (p < end && is_blank(*p)) ++p;
    return p;
}

const char* word_end(const char* p, const char* end) {
    while (p < end && !ends_word(*p)) ++p;
    return p;
}

const char* line_end(const char* p, const char* end) {
    while (p < end && !is_line_end(*p)) ++p;
    return p;
}

// Past the line end at p: LF, CR or CR LF.
const char* next_line(const char* p, const char* end) {
    if (p < end && *p++ == '\r' && p < end && *p == '\n') ++p;
    return p;
}

enum class line_kind { other, vertex, face };

line_kind classify(const char* p, const char* end, const char** rest) {
    p = skip_blanks(p, end);
    *rest = p;
    if (p < end && (p + 1 == end || ends_word(p[1]))) {
        *rest = p + 1;
        if (*p == 'v') return line_kind::vertex;
        if (*p == 'f') return line_kind::face;
    }
    return line_kind::other;
}

// A number word at p. A plain decimal of at most 24 bits of digits and ten
// decimals is read in one go: the digits and the power of ten are exact
// floats, so one division rounds the exact quotient once, as strtof does.
number_status read_number(const char* p, const char* end, float* out, const char** stop) {
    static const float powers_of_ten[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
    const char* q = p;
    const bool negative = *q == '-';
    if (*q == '-' || *q == '+') ++q;
    std::uint64_t digits = 0;
    long seen = 0;
    for (; q < end && static_cast<unsigned>(*q - '0') < 10; ++q, ++seen) digits = digits * 10 + static_cast<unsigned>(*q - '0');
    long decimals = 0;
    if (q < end && *q == '.') {
        for (++q; q < end && static_cast<unsigned>(*q - '0') < 10; ++q, ++decimals) digits = digits * 10 + static_cast<unsigned>(*q - '0');
        seen += decimals;
    }
    if (seen > 0 && seen <= 19 && (q == end || ends_word(*q)) && digits <= (1u << 24) && decimals <= 10) {
        const float value = static_cast<float>(static_cast<std::uint32_t>(digits)) / powers_of_ten[decimals];
        *out = negative ? -value : value;
        *stop = q;
        return number_status::ok;
    }
    const char* e = word_end(q, end);
    *stop = e;
    return parse_float(p, e, out);
}

template <typename sink>
bool vertex_line(const char* p, const char* end, long long line, sink& s, const char** stop) {
    float xyz[3];
    for (float& value : xyz) {
        p = skip_blanks(p, end);
        *stop = p;
        if (p == end || is_line_end(*p)) return s.fail(line, [] { return "vertex line needs three numbers"; });
        const char* e = nullptr;
        const number_status status = read_number(p, end, &value, &e);
        *stop = e;
        if (status != number_status::ok) return s.fail(line, [&] { return number_message(status, whole_word(p, e)); });
        value *= obj_scale;
        if (!std::isfinite(value)) return s.fail(line, [&] { return too_large_message(whole_word(p, e)); });
        p = e;
    }
    return s.vertex(vector3{xyz[0], xyz[1], xyz[2]});
}

template <typename sink>
bool face_line(const char* p, const char* end, long long line, sink& s, const char** stop) {
    fan<sink> corners;
    for (;;) {
        p = skip_blanks(p, end);
        *stop = p;
        if (p == end || is_line_end(*p) || *p == '#') break;
        // Most corners are a few plain digits.
        const char* e = p;
        std::uint64_t digits = 0;
        while (e < end && static_cast<unsigned>(*e - '0') < 10) digits = digits * 10 + static_cast<unsigned>(*e++ - '0');
        long long index = static_cast<long long>(digits);
        const char* index_end = e;
        if (e == p || e - p > 12 || (e < end && !ends_word(*e))) {
            e = word_end(p, end);
            if (!parse_corner(p, e, &index, &index_end)) {
                *stop = e;
                return s.fail(line, [&] { return whole_word(p, e).quoted() + not_a_corner; });
            }
        }
        *stop = e;
        typename sink::slot slot{};
        if (!s.resolve(index, whole_word(p, index_end), line, &slot) || !corners.add(s, slot)) return false;
        p = e;
    }
    if (corners.corners < 3) return s.fail(line, [] { return "face needs at least three corners"; });
    return true;
}

// Parses the lines of [p, end), numbering them from 1; returns how many
// lines it went through, or -1 if the sink stopped it.
template <typename sink>
long long parse_lines(const char* p, const char* end, sink& s) {
    long long line = 0;
    while (p < end) {
        ++line;
        const char* rest = nullptr;
        const char* stop = p;
        bool ok = true;
        switch (classify(p, end, &rest)) {
        case line_kind::vertex:
            s.vertex_line_seen();
            if (!s.counting()) ok = vertex_line(rest, end, line, s, &stop);
            break;
        case line_kind::face:
            if (!s.counting()) ok = face_line(rest, end, line, s, &stop);
            break;
        case line_kind::other: break;
        }
        if (!ok && (!s.counting() || s.halted())) return -1;
        p = next_line(line_end(stop, end), end);
    }
    return line;
}

// ---------------------------------------------------------------------------
// A block parsed on its own: the vertex slots of positive indices are final,
// those of negative ones are counted from the block's first vertex and get
// its place in the file added at the block's turn.

struct block_slot {
    std::int32_t value;
    bool relative;
};

std::int32_t clamp_slot(long long slot) {
    return static_cast<std::int32_t>(std::clamp<long long>(slot, INT32_MIN, INT32_MAX));
}

struct block_result {
    mesh_array<vector3> vertices;
    mesh_array<face_corners> faces;
    // face index * 8 + one bit per corner counted from the block's start
    mesh_array<std::uint64_t> relative_faces;
    long long lines = 0;
    long long max_index = 0;      // the largest positive index
    long long min_relative = 0;   // the lowest slot counted from the block's start
    bool needs_context = false;   // something only the file above can settle
    bool out_of_memory = false;

    void clear() {
        vertices.clear();
        faces.clear();
        relative_faces.clear();
        lines = max_index = min_relative = 0;
        needs_context = out_of_memory = false;
    }
};

struct block_sink {
    using slot = block_slot;
    block_result& r;

    bool counting() const { return false; }
    void vertex_line_seen() {}
    bool halted() const { return false; }
    template <typename message>
    bool fail(long long, const message&) {
        return stop();
    }
    bool stop() {
        r.needs_context = true;
        return false;
    }
    bool full() {
        r.out_of_memory = true;
        return false;
    }
    bool vertex(const vector3& v) { return r.vertices.push(v) || full(); }
    bool resolve(long long index, const word_text&, long long, slot* out) {
        if (index > 0) {
            r.max_index = std::max(r.max_index, index);
            *out = {clamp_slot(index - 1), false};
        } else if (index < 0) {
            const long long local = r.vertices.size() + index;
            r.min_relative = std::min(r.min_relative, local);
            *out = {clamp_slot(local), true};
        } else {
            return stop();
        }
        return true;
    }
    bool face(slot a, slot b, slot c) {
        const unsigned mask = (a.relative ? 1u : 0u) | (b.relative ? 2u : 0u) | (c.relative ? 4u : 0u);
        if (mask && !r.relative_faces.push(static_cast<std::uint64_t>(r.faces.size()) * 8 + mask)) return full();
        return r.faces.push(face_corners{{a.value, b.value, c.value}}) || full();
    }
};

// Only classifies lines, counting the v lines among them.
struct line_counter {
    using slot = std::int32_t;
    long long& vertex_lines;
    bool counting() const { return true; }
    bool halted() const { return false; }
    void vertex_line_seen() { ++vertex_lines; }
    template <typename message>
    bool fail(long long, const message&) {
        return false;
    }
    bool vertex(const vector3&) { return false; }
    bool resolve(long long, const word_text&, long long, slot*) { return false; }
    bool face(slot, slot, slot) { return false; }
};

// ---------------------------------------------------------------------------
// The input, read from a stream or from memory.

struct input {
    virtual ~input() = default;
    // Up to `n` bytes; fewer only at the end or on an error.
    virtual std::size_t read(char* to, std::size_t n) = 0;
    virtual int error() const { return 0; }
};

struct memory_input : input {
    const char* data;
    std::size_t size;
    memory_input(const char* d, std::size_t s) : data(d), size(s) {}
    std::size_t read(char* to, std::size_t n) override {
        n = std::min(n, size);
        if (n > 0) std::memcpy(to, data, n);
        data += n;
        size -= n;
        return n;
    }
};

struct stream_input : input {
    std::FILE* stream;
    int failure = 0;
    explicit stream_input(std::FILE* s) : stream(s) {}
    std::size_t read(char* to, std::size_t n) override {
        const std::size_t got = std::fread(to, 1, n, stream);
        if (got < n && std::ferror(stream) && failure == 0) failure = errno ? errno : EIO;
        return got;
    }
    int error() const override { return failure; }
};

// ---------------------------------------------------------------------------
// One load.

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
        growing_mapping buffer;
        char* text = nullptr;
        std::size_t size = 0;
        std::size_t parse_end = 0;  // the lines before a NUL byte end here
        bool nul = false;           // the line after parse_end holds a NUL byte
        block_result result;
    };
    enum class unit_kind { none, block, long_line };

    void work(bool caller);
    void start_helpers();
    std::size_t fill(char* to, std::size_t n);
    unit_kind read_unit(unit& u);
    std::size_t last_line_end(const char* text, std::size_t size) const;
    void wait_for_turn(long long sequence);
    void pass_turn();
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
    mesh_array<vector3> vertices_;
    mesh_array<face_corners> faces_;
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

bool loader::exact_sink::resolve(long long index, const word_text& text, long long line, slot* out) {
    const long long known = l.vertices_.size();
    if (index == 0) return fail(line, [&] { return "vertex index " + text.shown() + " names no vertex (indices start at 1)"; });
    if (index < 0) {
        if (known + index < 0)
            return fail(line, [&] {
                return "vertex index " + text.shown() + " names no vertex (" + std::to_string(known) + " above this line)";
            });
        *out = static_cast<slot>(known + index);
        return true;
    }
    if (index > known && (l.candidates_.empty() || index > l.candidates_.back().index)) {
        std::string shown = text.shown();
        long long t = -1;
        if (shown != std::to_string(index)) {
            t = static_cast<long long>(l.texts_.size());
            l.texts_.push_back(std::move(shown));
        }
        l.candidates_.push_back({l.lines_ + line, index, t});
    }
    *out = clamp_slot(index - 1);
    return true;
}

bool loader::fail_at(long long line, const std::string& what) {
    if (!counting_) {
        counting_ = true;
        first_bad_ = std::string(name_) + ":" + std::to_string(line) + ": " + what;
    }
    if (candidates_.empty()) finish_error(first_bad_);
    return false;
}

bool loader::out_of_memory() {
    oom_ = true;
    finished_ = true;
    stop_ = true;
    return false;
}

void loader::finish_error(const std::string& message) {
    if (finished_) return;
    error_ = message;
    finished_ = true;
    stop_ = true;
}

std::string loader::candidate_message(const candidate& c) const {
    const std::string text = c.text < 0 ? std::to_string(c.index) : texts_[static_cast<std::size_t>(c.text)];
    return std::string(name_) + ":" + std::to_string(c.line) + ": vertex index " + text +
           " names no vertex (the file has " + std::to_string(vertex_lines_) + ")";
}

// Counts beyond what a mesh holds refuse the file as a whole, from its
// first line.
void loader::check_counts() {
    if (vertex_lines_ > INT_MAX) finish_error(std::string(name_) + ":1: more than " + std::to_string(INT_MAX) + " vertices");
    else if (faces_.size() > INT_MAX) finish_error(std::string(name_) + ":1: more than " + std::to_string(INT_MAX) + " faces");
}

// After each unit: candidates that now name a vertex are settled; once a
// bad line has been found, it is the answer as soon as no earlier line can
// still turn out bad.
void loader::after_unit() {
    while (!candidates_.empty() && candidates_.front().index <= vertex_lines_) candidates_.pop_front();
    check_counts();
    if (counting_ && candidates_.empty()) finish_error(first_bad_);
}

void loader::count_vertex_lines(const char* p, const char* end) {
    line_counter c{vertex_lines_};
    parse_lines(p, end, c);
}

// A NUL byte means binary data: nothing after it is read.
void loader::take_nul(long long line) {
    if (counting_) finish_error(first_bad_);
    finish_error(std::string(name_) + ":" + std::to_string(line) + ": NUL byte; this is not a text file");
}

void loader::take_block(unit& u) {
    const char* const begin = u.text;
    const char* const end = begin + u.parse_end;
    block_result& r = u.result;
    if (counting_) {
        count_vertex_lines(begin, end);
    } else {
        const long long base = vertices_.size();
        const bool clean = !r.needs_context && r.max_index <= base + static_cast<long long>(r.vertices.size()) &&
                           base + r.min_relative >= 0;
        if (clean) {
            const long long first_face = faces_.size();
            if (!vertices_.append(r.vertices.data(), static_cast<std::size_t>(r.vertices.size())) ||
                !faces_.append(r.faces.data(), static_cast<std::size_t>(r.faces.size()))) {
                out_of_memory();
                return;
            }
            face_corners* const faces = faces_.data() + first_face;
            for (long long k = 0; k < r.relative_faces.size(); ++k) {
                const std::uint64_t f = r.relative_faces.data()[k];
                for (int j = 0; j < 3; ++j)
                    if (f & (1u << j)) faces[f / 8].vertex[j] = static_cast<std::int32_t>(faces[f / 8].vertex[j] + base);
            }
            vertex_lines_ += r.vertices.size();
            lines_ += r.lines;
        } else {
            exact_sink s{*this};
            const long long lines = parse_lines(begin, end, s);
            if (finished_) return;
            lines_ += lines;
        }
    }
    if (u.nul && !finished_) take_nul(lines_ + 1);
    after_unit();
}

// ---------------------------------------------------------------------------
// A line too long for a block, fed in pieces at its turn (all of the file
// above it is known then), in bounded memory.

class long_line {
public:
    // The line's failure is held until its end: a NUL byte later in the
    // line makes it binary, which is what gets reported then.
    long_line(loader& l, long long line) : s_{l, &failure_}, line_(line) {}

    void add(const char* p, const char* end) {
        for (; p < end && phase_ != phase::ignore; ++p) {
            const char c = *p;
            if (is_blank(c)) {
                if (in_word_) end_word();
            } else {
                if (!in_word_) start_word(c);
                add_to_word(c);
            }
        }
    }

    // The line ended (a line end or the end of the input).
    void end() {
        if (in_word_) end_word();
        if (phase_ == phase::vertex) fail("vertex line needs three numbers");
        if ((phase_ == phase::face || phase_ == phase::face_comment) && corners_.corners < 3)
            fail("face needs at least three corners");
        phase_ = phase::ignore;
        if (!failure_.empty()) loader::exact_sink{s_.l}.fail(line_, [&] { return failure_; });
    }

private:
    enum class phase { keyword, vertex, face, face_comment, ignore };

    void start_word(char c) {
        in_word_ = true;
        word_ = word_start();
        if (phase_ == phase::vertex) number_ = long_number();
        if (phase_ == phase::face) {
            if (c == '#') phase_ = phase::face_comment;
            corner_ = long_corner();
        }
    }

    void add_to_word(char c) {
        word_.add(c);
        if (phase_ == phase::vertex) number_.add(c);
        else if (phase_ == phase::face) corner_.add(c);
    }

    void end_word() {
        in_word_ = false;
        switch (phase_) {
        case phase::keyword: {
            const char c = word_.length() == 1 ? word_.text().begin[0] : '\0';
            phase_ = phase::ignore;
            if (c == 'v') {
                s_.vertex_line_seen();
                if (!s_.counting()) phase_ = phase::vertex;
            } else if (c == 'f' && !s_.counting()) {
                phase_ = phase::face;
            }
            break;
        }
        case phase::vertex: {
            float& value = xyz_[numbers_];
            const number_status status = number_.finish(&value);
            if (status != number_status::ok) return fail(number_message(status, word_.text()));
            value *= obj_scale;
            if (!std::isfinite(value)) return fail(too_large_message(word_.text()));
            if (++numbers_ == 3) {
                phase_ = phase::ignore;
                s_.vertex(vector3{xyz_[0], xyz_[1], xyz_[2]});
            }
            break;
        }
        case phase::face: {
            long long index = 0;
            if (!corner_.finish(&index)) return fail(word_.text().quoted() + not_a_corner);
            std::int32_t slot = 0;
            if (!s_.resolve(index, corner_.index_text(), line_, &slot) || !corners_.add(s_, slot)) phase_ = phase::ignore;
            break;
        }
        case phase::face_comment:
        case phase::ignore: break;
        }
    }

    void fail(const std::string& what) {
        phase_ = phase::ignore;
        s_.fail(line_, [&] { return what; });
    }

    std::string failure_;
    loader::exact_sink s_;
    const long long line_;
    phase phase_ = phase::keyword;
    bool in_word_ = false;
    word_start word_;
    long_number number_;
    long_corner corner_;
    float xyz_[3] = {0.0f, 0.0f, 0.0f};
    int numbers_ = 0;
    fan<loader::exact_sink> corners_;
};

// ---------------------------------------------------------------------------
// Reading.

// Up to `n` bytes of text, fewer only at its end: after the start checks,
// without the LF of a CR LF split between two reads, and cut at a NUL byte.
std::size_t loader::fill(char* to, std::size_t n) {
    std::size_t got = 0;
    while (got < n && !input_ended_) {
        std::size_t r = 0;
        if (start_size_ > 0) {
            r = std::min(start_size_, n - got);
            std::memcpy(to + got, start_, r);
            std::memmove(start_, start_ + r, start_size_ - r);
            start_size_ -= r;
        } else if (source_ended_) {
            input_ended_ = true;
            break;
        } else {
            r = in_.read(to + got, n - got);
            if (r < n - got) source_ended_ = input_ended_ = true;
        }
        if (drop_lf_ && r > 0) {
            drop_lf_ = false;
            if (to[got] == '\n') std::memmove(to + got, to + got + 1, --r);
        }
        if (const void* nul = r > 0 ? std::memchr(to + got, '\0', r) : nullptr) {
            r = static_cast<std::size_t>(static_cast<const char*>(nul) - (to + got));
            input_ended_ = ended_at_nul_ = true;
        }
        got += r;
    }
    return got;
}

// Just past the last line end of the text, or 0 if there is none.
std::size_t loader::last_line_end(const char* text, std::size_t size) const {
    for (std::size_t i = size; i > 0; --i)
        if (is_line_end(text[i - 1])) return i;
    return 0;
}

// The next unit: the carried-over start of a line and a block's worth more,
// cut after its last line end; or, when no line ends there, a long line.
loader::unit_kind loader::read_unit(unit& u) {
    if (input_done_) return unit_kind::none;
    char* const text = u.text;
    u.nul = false;
    // What follows a long line may hold whole lines already.
    if (const std::size_t whole = last_line_end(carry_.get(), carry_size_)) {
        std::memcpy(text, carry_.get(), whole);
        carry_size_ -= whole;
        std::memmove(carry_.get(), carry_.get() + whole, carry_size_);
        if (carry_size_ == 0 && text[whole - 1] == '\r') drop_lf_ = true;
        u.size = u.parse_end = whole;
        return unit_kind::block;
    }
    std::memcpy(text, carry_.get(), carry_size_);
    u.size = carry_size_ + fill(text + carry_size_, block_);
    carry_size_ = 0;
    if (input_ended_) {
        input_done_ = true;
        if (u.size == 0 && !ended_at_nul_) return unit_kind::none;
        u.nul = ended_at_nul_;
        u.parse_end = u.nul ? last_line_end(text, u.size) : u.size;
        return unit_kind::block;
    }
    const std::size_t cut = last_line_end(text, u.size);
    if (cut == 0) return unit_kind::long_line;
    if (text[cut - 1] == '\r' && cut == u.size) drop_lf_ = true;
    carry_size_ = u.size - cut;
    std::memcpy(carry_.get(), text + cut, carry_size_);
    u.size = u.parse_end = cut;
    return unit_kind::block;
}

void loader::take_long_line(unit& u) {
    long_line line(*this, 1);
    char* const text = u.text;
    line.add(text, text + u.size);
    for (;;) {
        if (finished_) return;
        if (input_ended_) {
            input_done_ = true;
            if (ended_at_nul_) {
                take_nul(lines_ + 1);
                return;
            }
            line.end();
            break;
        }
        const std::size_t n = fill(text, block_);
        std::size_t at = 0;
        while (at < n && !is_line_end(text[at])) ++at;
        line.add(text, text + at);
        if (at < n) {
            line.end();
            std::size_t next = at + 1;
            if (text[at] == '\r') {
                if (next < n && text[next] == '\n') ++next;
                else if (next == n) drop_lf_ = true;
            }
            carry_size_ = n - next;
            std::memcpy(carry_.get(), text + next, carry_size_);
            break;
        }
    }
    if (finished_) return;
    ++lines_;
    after_unit();
}

// ---------------------------------------------------------------------------
// Threads.

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

// Beyond four threads the reading and the taking in, one at a time, are
// what limits the speed; more would only cost stacks and buffers.
constexpr int most_threads = 4;

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
        u.result.clear();
        block_sink s{u.result};
        u.result.lines = parse_lines(u.text, u.text + u.parse_end, s);
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

bool loader::run(mesh* m, std::string* error) {
    try {
        carry_.reset(new char[block_]);
        // A byte-order mark can only be told from the first bytes.
        start_size_ = in_.read(start_, sizeof start_);
        source_ended_ = start_size_ < sizeof start_;
        const unsigned char* b = reinterpret_cast<const unsigned char*>(start_);
        if (start_size_ >= 2 && ((b[0] == 0xff && b[1] == 0xfe) || (b[0] == 0xfe && b[1] == 0xff))) {
            if (error) *error = std::string(name_) + ":1: UTF-16 text; save it as UTF-8 to load it";
            return false;
        }
        if (start_size_ == 3 && b[0] == 0xef && b[1] == 0xbb && b[2] == 0xbf) start_size_ = 0;

        work(true);
    } catch (const std::bad_alloc&) {
        oom_ = true;
        stop_ = true;
    }
    for (std::thread& t : helpers_) t.join();

    std::string message;
    if (oom_) {
        message = std::string(name_) + ": out of memory after " + std::to_string(faces_.size()) + " faces";
    } else if (finished_) {
        message = error_;
    } else if (in_.error() != 0) {
        message = std::string("cannot read ") + name_ + ": " + std::strerror(in_.error());
    } else if (!candidates_.empty()) {
        message = candidate_message(candidates_.front());
    } else if (counting_) {
        message = first_bad_;
    }
    if (!message.empty()) {
        if (error) *error = message;
        return false;
    }
    const int vertex_count = static_cast<int>(vertices_.size());
    const int face_count = static_cast<int>(faces_.size());
    vector3* const vertices = vertices_.release();
    face_corners* const faces = faces_.release();
    if (!vertices || !faces) {
        if (vertices) munmap(vertices, page_round(sizeof(vector3) * static_cast<std::size_t>(vertex_count)));
        if (faces) munmap(faces, page_round(sizeof(face_corners) * static_cast<std::size_t>(face_count)));
        if (error) *error = std::string(name_) + ": out of memory after " + std::to_string(face_count) + " faces";
        return false;
    }
    m->vertex_count = vertex_count;
    m->face_count = face_count;
    m->vertices = vertices;
    m->faces = faces;
    return true;
}

}  // namespace

bool parse_obj(const char* data, std::size_t size, const char* name, mesh* m, std::string* error,
               std::size_t block_size, int threads) {
    memory_input in(data, size);
    return loader(in, name, block_size, threads).run(m, error);
}

void print_obj_report(const mesh& m) {
    std::printf("\t\tfound %i verts \n", m.vertex_count);
    std::printf("\t\tfound %i faces \n", m.face_count);
    std::printf("\t\tscaling object: \n");
    std::printf("\n");
    std::printf("\n");
    // The maximum starts at the lowest float, so a mesh lying wholly below
    // y = 0 still reports its real top.
    float max_y = std::numeric_limits<float>::lowest();
    float min_y = FLT_MAX;
    for (int i = 0; i < m.vertex_count; ++i) {
        const float y = m.vertices[i].y;
        if (y < min_y) min_y = y;
        if (y > max_y) max_y = y;
    }
    std::printf("\t\tmax y = %f \n", static_cast<double>(max_y));
    std::printf("\t\tmin y = %f \n", static_cast<double>(min_y));
    std::printf("\t\t\tallocated mem\n");
    std::printf("\t\t\tcalculating normals, v_normals\n");
}

bool load_obj(std::FILE* stream, mesh* m, const char* name, std::string* error, std::size_t block_size, int threads) {
    stream_input in(stream);
    const bool loaded = loader(in, name, block_size, threads).run(m, error);
    std::fclose(stream);
    if (!loaded) return false;
    print_obj_report(*m);
    return true;
}

void release_mesh(mesh* m) {
    if (m->vertices) munmap(m->vertices, page_round(sizeof(vector3) * static_cast<std::size_t>(m->vertex_count)));
    if (m->faces) munmap(m->faces, page_round(sizeof(face_corners) * static_cast<std::size_t>(m->face_count)));
    m->vertices = nullptr;
    m->faces = nullptr;
    m->vertex_count = -1;
    m->face_count = -1;
}
