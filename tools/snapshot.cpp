// raytracer-snapshot: the program without a window. It builds the same
// scene, renders it, prints the same standard output up to the elapsed-time
// line and writes the picture the window would show to a PNG file.

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csetjmp>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "app/image.h"
#include "app/memory_limit.h"
#include "app/output.h"
#include "app/pixel.h"
#include "app/timed_render.h"
#include "scene/scene.h"
#include "world/build_scene.h"

namespace {

const char usage[] =
    "usage: raytracer-snapshot [--mesh PATH] [--output FILE.png]\n";

const char help[] =
    "Renders the built-in scene once, without opening a window, and writes\n"
    "the picture the window would show (800 x 600, 8-bit RGB) to a PNG file.\n"
    "Standard output is the program's own, up to the elapsed-time line.\n"
    "\n"
    "  --mesh PATH        the mesh to load, an OBJ, PLY or STL file told by\n"
    "                     its content (default: bunny.obj in the working\n"
    "                     directory)\n"
    "  --output FILE.png  where to write the picture (default: raytracer.png)\n"
    "  --help             show this text and exit\n"
    "\n"
    "The picture is written under a temporary name next to FILE.png and\n"
    "renamed over it once complete, so a failed run keeps any older picture;\n"
    "FILE.png may not be the mesh itself.\n"
    "\n"
    "Exit status: 0 on success, 1 when the mesh, the PNG file or standard\n"
    "output fails (or memory runs out), 2 on bad arguments.\n";

struct options {
    std::string mesh = "bunny.obj";
    std::string output = "raytracer.png";
};

int bad_arguments(const std::string& why) {
    report_failure("raytracer-snapshot: " + why);
    std::fputs(usage, stderr);
    return 2;
}

// Returns -1 to go on, or the exit status.
int parse_arguments(int argc, char** argv, options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::printf("%s%s", usage, help);
            return 0;
        }
        std::string* target = nullptr;
        std::string value;
        for (const char* name : {"--mesh", "--output"}) {
            const std::string n = name;
            if (arg == n) {
                if (i + 1 >= argc) return bad_arguments(n + " needs a value");
                value = argv[++i];
            } else if (arg.compare(0, n.size() + 1, n + "=") == 0) {
                value = arg.substr(n.size() + 1);
            } else {
                continue;
            }
            target = n == "--mesh" ? &o->mesh : &o->output;
            break;
        }
        if (!target) return bad_arguments("unknown argument '" + arg + "'");
        if (value.empty()) return bad_arguments(arg + ": empty value");
        *target = value;
    }
    return -1;
}

// The temporary picture, removed if a signal ends the run while it is
// written: an interrupted run leaves no broken file behind.
char temporary[PATH_MAX + 64];
volatile std::sig_atomic_t temporary_exists = 0;

void remove_temporary_and_die(int signal_number) {
    if (temporary_exists) unlink(temporary);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

// libpng reports through these: its message is kept for our one line, and
// a failed write keeps the system's reason.
struct png_failure {
    char message[200] = "";
    int write_errno = 0;
};

void on_png_error(png_structp png, png_const_charp message) {
    png_failure* f = static_cast<png_failure*>(png_get_error_ptr(png));
    if (f->message[0] == '\0') std::snprintf(f->message, sizeof f->message, "%s", message);
    png_longjmp(png, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

void on_png_write(png_structp png, png_bytep data, png_size_t length) {
    std::FILE* file = static_cast<std::FILE*>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, length, file) != length) {
        static_cast<png_failure*>(png_get_error_ptr(png))->write_errno = errno;
        png_error(png, "write failed");
    }
}

void on_png_flush(png_structp png) { std::fflush(static_cast<std::FILE*>(png_get_io_ptr(png))); }

// libpng on `file`, with the setjmp its errors return to kept apart from
// any C++ object. Returns false with `failure` filled when it fails.
bool png_stream(std::FILE* file, png_bytep* rows, png_failure* failure) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, failure, on_png_error, on_png_warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(failure->message, sizeof failure->message, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, file, on_png_write, on_png_flush);
    // The fastest compression: the picture is written once per run, and
    // the default level costs several times the render on this picture.
    png_set_compression_level(png, 1);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_IHDR(png, info, image_width, image_height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// The window's picture as PNG on `file`: each channel truncated toward zero
// and held to 0..255 by the one conversion the display uses, row 0 at the
// top. Returns the reason it failed, or "".
std::string encode_png(std::FILE* file) {
    std::vector<png_byte> rows;
    std::vector<png_bytep> row_pointers;
    try {
        rows.resize(static_cast<std::size_t>(image_width) * image_height * 3);
        row_pointers.resize(image_height);
    } catch (const std::bad_alloc&) {
        return "out of memory";
    }
    for (int y = 0; y < image_height; ++y) {
        png_byte* row = &rows[static_cast<std::size_t>(y) * image_width * 3];
        row_pointers[static_cast<std::size_t>(y)] = row;
        for (int x = 0; x < image_width; ++x) {
            const float* pixel = &image[image_index(x, y)];
            for (int c = 0; c < 3; ++c) row[x * 3 + c] = to_8bit(pixel[c]);
        }
    }
    png_failure failure;
    if (!png_stream(file, row_pointers.data(), &failure))
        return failure.write_errno ? std::strerror(failure.write_errno) : failure.message;
    if (std::fflush(file) != 0) return std::strerror(errno);
    return "";
}

// Writes the picture straight into `path`: a device, a pipe, or a file
// that cannot be replaced. Returns the reason it failed, or "".
std::string write_in_place(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::string why = file ? encode_png(file) : std::strerror(errno);
    if (file && std::fclose(file) != 0 && why.empty()) why = std::strerror(errno);
    return why;
}

// Follows the symbolic links `path` ends in: the picture goes to the file
// they name, which need not exist yet (a dangling link is written through,
// not replaced). False after 40 links, as the system counts a loop.
bool follow_links(std::string* path) {
    for (int links = 0; links <= 40; ++links) {
        char target[PATH_MAX];
        const ssize_t n = readlink(path->c_str(), target, sizeof target);
        if (n < 0 || static_cast<std::size_t>(n) == sizeof target) return true;
        const std::size_t slash = path->rfind('/');
        const std::string folder = target[0] == '/' || slash == std::string::npos ? "" : path->substr(0, slash + 1);
        *path = folder + std::string(target, static_cast<std::size_t>(n));
    }
    return false;
}

// ".NAME.XXXXXX" beside `target` for mkstemp, NAME cut short so that the
// temporary name, 8 bytes longer, stays within the 255 a name may have.
std::string temporary_pattern(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    return target.substr(0, start) + "." + target.substr(start, NAME_MAX - 8) + ".XXXXXX";
}

// Writes the complete picture to the open temporary `fd` with `mode`, on
// the disk before it counts as written. Returns why it failed, or "". (A
// mode the file system cannot hold, as on FAT, is no reason to fail.)
std::string write_temporary(int fd, mode_t mode) {
    fchmod(fd, mode);
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
        const int why = errno;
        close(fd);
        return std::strerror(why);
    }
    std::string why = encode_png(file);
    if (why.empty() && fsync(fd) != 0) why = std::strerror(errno);
    if (std::fclose(file) != 0 && why.empty()) why = std::strerror(errno);
    return why;
}

// Writes the picture to `path` and returns the reason it failed, or "". A
// regular file (or a new one) is written under a temporary name in the same
// folder and renamed into place once complete, so a failure keeps whatever
// was there; a device or a pipe is written directly, and so is a file
// mounted on its own (a bind mount), which no rename may replace.
std::string write_png(const char* path) {
    std::string target = path;
    if (!follow_links(&target)) return std::strerror(ELOOP);
    struct stat existing;
    const bool exists = stat(target.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) return write_in_place(target);

    const std::string pattern = temporary_pattern(target);
    if (pattern.size() >= sizeof temporary) return std::strerror(ENAMETOOLONG);
    std::memcpy(temporary, pattern.c_str(), pattern.size() + 1);
    // Signals the caller ignores stay ignored.
    sigset_t handled, before;
    sigemptyset(&handled);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction current;
        if (sigaction(s, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) std::signal(s, remove_temporary_and_die);
        sigaddset(&handled, s);
    }
    // No signal between creating the file and noting that it exists.
    sigprocmask(SIG_BLOCK, &handled, &before);
    const int fd = mkstemp(temporary);
    const int create_errno = errno;
    temporary_exists = fd >= 0;
    sigprocmask(SIG_SETMASK, &before, nullptr);
    if (fd < 0) return std::strerror(create_errno);

    // The permissions a new file would get, or those of the one replaced.
    const mode_t mask = umask(0);
    umask(mask);
    std::string why = write_temporary(fd, exists ? (existing.st_mode & 07777) : (0666 & ~mask));
    int rename_errno = 0;
    if (why.empty() && std::rename(temporary, target.c_str()) != 0) {
        rename_errno = errno;
        why = std::strerror(rename_errno);
    }
    if (!why.empty()) unlink(temporary);
    temporary_exists = 0;
    if (rename_errno == EBUSY) why = write_in_place(target);
    return why;
}

// True when `output` names the very file `mesh` names (the same device and
// inode, whatever the names, links or symbolic links).
bool same_file(const char* mesh, const char* output) {
    struct stat a, b;
    return stat(mesh, &a) == 0 && stat(output, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

int main(int argc, char** argv) {
    const char* const program = "raytracer-snapshot";
    start_output();
    options o;
    const int status = parse_arguments(argc, argv, &o);
    if (status >= 0) return finish_output(program, status);
    if (same_file(o.mesh.c_str(), o.output.c_str()))
        return finish_output(program, bad_arguments("--output '" + o.output + "' is the mesh itself"));

    const one_thread_under_memory_limit one_thread;
    current_scene = new (std::nothrow) scene;
    if (!current_scene) {
        report_failure("raytracer-snapshot: out of memory building the scene");
        return finish_output(program, 1);
    }
    std::string error;
    if (!build_scene(o.mesh.c_str(), &error)) {
        report_failure(error);
        return finish_output(program, 1);
    }

    try {
        timed_render();
    } catch (const std::bad_alloc&) {
        report_failure("raytracer-snapshot: out of memory while rendering");
        return finish_output(program, 1);
    }
    flush_output();

    const std::string why = write_png(o.output.c_str());
    if (!why.empty()) report_failure("cannot write " + o.output + ": " + why);

    destroy_scene(current_scene);
    delete current_scene;
    current_scene = nullptr;
    return finish_output(program, why.empty() ? 0 : 1);
}
