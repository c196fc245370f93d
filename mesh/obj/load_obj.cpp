// The loader's entry points: a load from memory or from a stream.

#include "mesh/obj/load_obj.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "mesh/obj/input.h"
#include "mesh/obj/loader.h"

namespace {

class memory_input : public obj::input {
public:
    memory_input(const char* data, std::size_t size) : data_(data), size_(size) {}
    std::size_t read(char* to, std::size_t n) override {
        n = std::min(n, size_);
        if (n > 0) std::memcpy(to, data_, n);
        data_ += n;
        size_ -= n;
        return n;
    }

private:
    const char* data_;
    std::size_t size_;
};

class stream_input : public obj::input {
public:
    explicit stream_input(std::FILE* stream) : stream_(stream) {}
    std::size_t read(char* to, std::size_t n) override {
        const std::size_t got = std::fread(to, 1, n, stream_);
        if (got < n && std::ferror(stream_) && failure_ == 0) failure_ = errno ? errno : EIO;
        return got;
    }
    int error() const override { return failure_; }

private:
    std::FILE* stream_;
    int failure_ = 0;
};

}  // namespace

bool parse_obj(const char* data, std::size_t size, const char* name, mesh* m, std::string* error,
               std::size_t block_size, int threads) {
    memory_input in(data, size);
    return obj::read_obj(in, name, m, error, block_size, threads);
}

bool load_obj(std::FILE* stream, mesh* m, const char* name, std::string* error, std::size_t block_size, int threads) {
    stream_input in(stream);
    const bool loaded = obj::read_obj(in, name, m, error, block_size, threads);
    std::fclose(stream);
    if (loaded) print_mesh_report(*m);
    return loaded;
}
