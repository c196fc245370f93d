// The loader's entry points: a load from memory or from a stream, the mesh
// handed over at the end, and freeing it. The work is in obj_loader.h.

#include "mesh/obj/load_obj.h"

#include <cassert>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <thread>

#include "mesh/obj/obj_loader.h"

namespace obj {

namespace {

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

}  // namespace

bool loader::run(mesh* m, std::string* error) {
    try {
        carry_.reset(new char[block_]);
        if (!read_start(error)) return false;
        work(true);
    } catch (const std::bad_alloc&) {
        oom_ = true;
        stop_ = true;
    }
    for (std::thread& t : helpers_) t.join();

    const std::string message = failure();
    if (!message.empty()) {
        if (error) *error = message;
        return false;
    }
    // check_counts refused anything larger after every unit.
    assert(vertices_.size() <= INT_MAX && faces_.size() <= INT_MAX);
    const int vertex_count = static_cast<int>(vertices_.size());
    const int face_count = static_cast<int>(faces_.size());
    vector3* const vertices = vertices_.release();
    face_corners* const faces = faces_.release();
    if (!vertices || !faces) {
        util::unmap_array(vertices, sizeof(vector3) * static_cast<std::size_t>(vertex_count));
        util::unmap_array(faces, sizeof(face_corners) * static_cast<std::size_t>(face_count));
        if (error) *error = std::string(name_) + ": out of memory after " + std::to_string(face_count) + " faces";
        return false;
    }
    m->vertex_count = vertex_count;
    m->face_count = face_count;
    m->vertices = vertices;
    m->faces = faces;
    return true;
}

}  // namespace obj

bool parse_obj(const char* data, std::size_t size, const char* name, mesh* m, std::string* error,
               std::size_t block_size, int threads) {
    obj::memory_input in(data, size);
    return obj::loader(in, name, block_size, threads).run(m, error);
}

bool load_obj(std::FILE* stream, mesh* m, const char* name, std::string* error, std::size_t block_size, int threads) {
    obj::stream_input in(stream);
    const bool loaded = obj::loader(in, name, block_size, threads).run(m, error);
    std::fclose(stream);
    if (!loaded) return false;
    print_mesh_report(*m);
    return true;
}
