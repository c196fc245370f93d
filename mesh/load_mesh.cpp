// Opening a mesh file, telling its format from its first bytes, and
// handing it to its reader: a regular PLY or STL file is mapped and read
// in place; a pipe or a device goes through the readers' buffer. An OBJ
// file goes to load_obj as a stream that gives back the bytes looked at.

#include "mesh/load_mesh.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "mesh/input/block_reader.h"
#include "mesh/obj/load_obj.h"
#include "mesh/ply/load_ply.h"
#include "mesh/stl/load_stl.h"

mesh_format mesh_format_of(const char* head, std::size_t n, long long size) {
    if (is_ply(head, n)) return mesh_format::ply;
    switch (stl_kind_of(head, n, size)) {
    case stl_kind::binary: return mesh_format::stl_binary;
    case stl_kind::ascii: return mesh_format::stl_ascii;
    case stl_kind::none: break;
    }
    return mesh_format::obj;
}

namespace {

// An open file, its reader, and whatever it was found to be.
struct opened {
    int fd = -1;
    fd_source source{-1, -1};
    std::unique_ptr<block_reader> reader;
    mesh_format format = mesh_format::obj;

    ~opened() {
        if (fd >= 0) close(fd);
    }
};

// Opens `path` and looks at its first bytes; false with the reason set.
bool open_mesh(const char* path, opened* f, std::string* error) {
    f->fd = open(path, O_RDONLY | O_CLOEXEC);
    if (f->fd < 0) {
        *error = std::string("cannot open ") + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info;
    const long long size = fstat(f->fd, &info) == 0 && S_ISREG(info.st_mode) ? info.st_size : -1;
    f->source = fd_source(f->fd, size);
    try {
        f->reader.reset(new block_reader(f->source));
    } catch (const std::bad_alloc&) {
        *error = std::string(path) + ": out of memory before loading";
        return false;
    }
    const std::size_t n = f->reader->want(mesh_format_head);
    f->format = mesh_format_of(f->reader->data(), n, size);
    return true;
}

// PLY or STL from a mapping of the whole file when it is a regular file
// and can be mapped, else through the reader.
bool read_mapped_or_streamed(const char* path, opened& f, mesh* m, std::string* error) {
    const long long size = f.source.size;
    void* mapped = size > 0 ? mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, f.fd, 0) : MAP_FAILED;
    block_reader view(mapped != MAP_FAILED ? static_cast<const char*>(mapped) : nullptr,
                      mapped != MAP_FAILED ? static_cast<std::size_t>(size) : 0);
    block_reader& in = mapped != MAP_FAILED ? view : *f.reader;
    bool read = false;
    if (f.format == mesh_format::ply) read = read_ply(in, path, m, error);
    else read = read_stl(in, f.format == mesh_format::stl_binary ? stl_kind::binary : stl_kind::ascii, path, m, error);
    if (mapped != MAP_FAILED) munmap(mapped, static_cast<std::size_t>(size));
    return read;
}

// load_obj's stream: the bytes the reader holds, then the rest of the file.
struct obj_stream {
    opened file;
};

ssize_t obj_stream_read(void* cookie, char* to, std::size_t n) {
    block_reader& in = *static_cast<obj_stream*>(cookie)->file.reader;
    const std::size_t got = in.read_out(to, n);
    if (got == 0 && in.read_error() != 0) {
        errno = in.read_error();
        return -1;
    }
    return static_cast<ssize_t>(got);
}

int obj_stream_close(void* cookie) {
    delete static_cast<obj_stream*>(cookie);
    return 0;
}

}  // namespace

bool load_mesh_file(const char* path, mesh* m, std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    std::unique_ptr<obj_stream> s;
    try {
        s.reset(new obj_stream);
    } catch (const std::bad_alloc&) {
        *error = std::string(path) + ": out of memory before loading";
        return false;
    }
    if (!open_mesh(path, &s->file, error)) return false;
    if (s->file.format != mesh_format::obj) {
        if (!read_mapped_or_streamed(path, s->file, m, error)) return false;
        print_mesh_report(*m);
        return true;
    }
    // load_obj closes the stream, which frees what it reads from.
    std::FILE* stream = fopencookie(s.get(), "r", cookie_io_functions_t{obj_stream_read, nullptr, nullptr, obj_stream_close});
    if (!stream) {
        *error = std::string(path) + ": out of memory before loading";
        return false;
    }
    s.release();
    return load_obj(stream, m, path, error);
}

bool read_mesh_file(const char* path, mesh* m, std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    opened f;
    if (!open_mesh(path, &f, error)) return false;
    if (f.format != mesh_format::obj) return read_mapped_or_streamed(path, f, m, error);
    std::string text;
    try {
        char chunk[1 << 16];
        while (const std::size_t got = f.reader->read_out(chunk, sizeof chunk)) text.append(chunk, got);
    } catch (const std::bad_alloc&) {
        *error = std::string(path) + ": out of memory";
        return false;
    }
    if (f.reader->read_error() != 0) {
        *error = std::string("cannot read ") + path + ": " + std::strerror(f.reader->read_error());
        return false;
    }
    return parse_obj(text.data(), text.size(), path, m, error);
}
