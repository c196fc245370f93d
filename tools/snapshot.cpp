// raytracer-snapshot: the program without a window. It builds the same
// scene, renders it, prints the same standard output up to the elapsed-time
// line and writes the picture the window would show to a PNG file.

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csetjmp>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "app/memory_limit.h"
#include "app/output.h"
#include "app/pixel.h"
#include "app/progress_line.h"
#include "app/timed_render.h"
#include "render/camera.h"
#include "render/render.h"
#include "scene/scene.h"
#include "world/build_scene.h"

namespace {

const char usage[] =
    "usage: raytracer-snapshot [--mesh PATH] [--output FILE.png] [--fit] [--up AXIS]\n"
    "                          [--size WxH] [--samples N]\n";

const char help[] =
    "Renders the built-in scene once, without opening a window, and writes\n"
    "the picture the window would show (800 x 600, 8-bit RGB) to a PNG file.\n"
    "Standard output is the program's own, up to the elapsed-time line, with\n"
    "any options.\n"
    "\n"
    "  --mesh PATH        the mesh to load, an OBJ, PLY or STL file told by\n"
    "                     its content (default: bunny.obj in the working\n"
    "                     directory)\n"
    "  --output FILE.png  where to write the picture (default: raytracer.png)\n"
    "  --fit              place the mesh where the bunny stands, whatever its\n"
    "                     size, units and position: as large in the picture as\n"
    "                     the bunny, wholly in the frame, resting on the floor\n"
    "  --up AXIS          the axis that points up in the file: +y (default),\n"
    "                     +z for most CAD and 3D-printing files, or -y, +x, -x,\n"
    "                     -z; the mesh is turned so that it points up\n"
    "  --size WxH         the picture's size in pixels (default: 800x600), each\n"
    "                     1 to 16384 and at most 33554432 pixels in all; the\n"
    "                     camera keeps its place and its vertical field of view\n"
    "  --samples N        N x N rays per pixel, averaged (default: 1), N from 1\n"
    "                     to 16, at most 4294967296 rays in all\n"
    "  --help             show this text and exit\n"
    "\n"
    "When standard error is a terminal, a render that takes more than a\n"
    "second shows how far it has come and about how long it has left there.\n"
    "\n"
    "The picture is written under a temporary name next to FILE.png and\n"
    "renamed over it once complete, so a failed run keeps any older picture;\n"
    "FILE.png may not be the mesh itself.\n"
    "\n"
    "Exit status: 0 on success, 1 when the mesh, the PNG file or standard\n"
    "output fails (or memory runs out), 2 on bad arguments.\n";

// Bounds on what a picture may cost: its side, its pixels (a float picture
// of 400 MB and its 8-bit copy) and its primary rays (a few minutes of the
// bunny on two cores).
constexpr long long max_side = 16384;
constexpr long long max_pixels = 1LL << 25;
constexpr long long max_samples = 16;
constexpr long long max_rays = 1LL << 32;

struct options {
    std::string mesh = "bunny.obj";
    std::string output = "raytracer.png";
    mesh_placement placement;
    int samples = 1;
};

int bad_arguments(const std::string& why) {
    report_failure("raytracer-snapshot: " + why);
    std::fputs(usage, stderr);
    return 2;
}

// A decimal count from 1 to `most`, digits only; 0 when it is not one.
long long count_in(const std::string& text, long long most) {
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
    const long long n = std::stoll(text);
    return n <= most ? n : 0;
}

// What a value option makes of its value: "" when it takes it.
std::string take_size(const std::string& value, options* o) {
    const std::size_t x = value.find('x');
    const long long width = x == std::string::npos ? 0 : count_in(value.substr(0, x), max_side);
    const long long height = x == std::string::npos ? 0 : count_in(value.substr(x + 1), max_side);
    if (width == 0 || height == 0)
        return "--size " + value + ": give the width and height as WxH, each 1 to " + std::to_string(max_side);
    if (width * height > max_pixels)
        return "--size " + value + ": " + std::to_string(width * height) + " pixels, more than the " +
               std::to_string(max_pixels) + " a picture may have";
    o->placement.view.width = static_cast<int>(width);
    o->placement.view.height = static_cast<int>(height);
    return "";
}

std::string take_samples(const std::string& value, options* o) {
    const long long n = count_in(value, max_samples);
    if (n == 0) return "--samples " + value + ": give N from 1 to " + std::to_string(max_samples);
    o->samples = static_cast<int>(n);
    return "";
}

std::string take_up(const std::string& value, options* o) {
    const std::string axes = "xyz";
    if (value.size() != 2 || (value[0] != '+' && value[0] != '-') || axes.find(value[1]) == std::string::npos)
        return "--up " + value + ": give one of +x, -x, +y, -y, +z, -z";
    o->placement.up = {static_cast<int>(axes.find(value[1])), value[0] == '+' ? 1 : -1};
    return "";
}

// Returns -1 to go on, or the exit status.
int parse_arguments(int argc, char** argv, options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::printf("%s%s", usage, help);
            return 0;
        }
        if (arg == "--fit") {
            o->placement.fit = true;
            continue;
        }
        const char* name = nullptr;
        std::string value;
        for (const char* n : {"--mesh", "--output", "--up", "--size", "--samples"}) {
            const std::string s = n;
            if (arg == s) {
                if (i + 1 >= argc) return bad_arguments(s + " needs a value");
                value = argv[++i];
            } else if (arg.compare(0, s.size() + 1, s + "=") == 0) {
                value = arg.substr(s.size() + 1);
            } else {
                continue;
            }
            name = n;
            break;
        }
        if (!name) return bad_arguments("unknown argument '" + arg + "'");
        if (value.empty()) return bad_arguments(arg + ": empty value");
        const std::string n = name;
        std::string why;
        if (n == "--mesh") o->mesh = value;
        if (n == "--output") o->output = value;
        if (n == "--up") why = take_up(value, o);
        if (n == "--size") why = take_size(value, o);
        if (n == "--samples") why = take_samples(value, o);
        if (!why.empty()) return bad_arguments(why);
    }
    const camera_view& view = o->placement.view;
    const long long rays = static_cast<long long>(view.width) * view.height * o->samples * o->samples;
    if (rays > max_rays)
        return bad_arguments("--samples " + std::to_string(o->samples) + " at " + std::to_string(view.width) + "x" +
                             std::to_string(view.height) + ": " + std::to_string(rays) + " rays, more than the " +
                             std::to_string(max_rays) + " a picture may take");
    return -1;
}

// The rendered picture, stored by row, three floats a pixel.
struct picture {
    int width = 0;
    int height = 0;
    std::vector<float> pixels;
};

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
bool png_stream(std::FILE* file, int width, int height, png_bytep* rows, png_failure* failure) {
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
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
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
std::string encode_png(std::FILE* file, const picture& pic) {
    const std::size_t width = static_cast<std::size_t>(pic.width);
    std::vector<png_byte> rows;
    std::vector<png_bytep> row_pointers;
    try {
        rows.resize(width * static_cast<std::size_t>(pic.height) * 3);
        row_pointers.resize(static_cast<std::size_t>(pic.height));
    } catch (const std::bad_alloc&) {
        return "out of memory";
    }
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = to_8bit(pic.pixels[i]);
    for (std::size_t y = 0; y < row_pointers.size(); ++y) row_pointers[y] = &rows[y * width * 3];
    png_failure failure;
    if (!png_stream(file, pic.width, pic.height, row_pointers.data(), &failure))
        return failure.write_errno ? std::strerror(failure.write_errno) : failure.message;
    if (std::fflush(file) != 0) return std::strerror(errno);
    return "";
}

// Writes the picture straight into `path`: a device, a pipe, or a file
// that cannot be replaced. Returns the reason it failed, or "".
std::string write_in_place(const std::string& path, const picture& pic) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::string why = file ? encode_png(file, pic) : std::strerror(errno);
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
std::string write_temporary(int fd, mode_t mode, const picture& pic) {
    fchmod(fd, mode);
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
        const int why = errno;
        close(fd);
        return std::strerror(why);
    }
    std::string why = encode_png(file, pic);
    if (why.empty() && fsync(fd) != 0) why = std::strerror(errno);
    if (std::fclose(file) != 0 && why.empty()) why = std::strerror(errno);
    return why;
}

// Writes the picture to `path` and returns the reason it failed, or "". A
// regular file (or a new one) is written under a temporary name in the same
// folder and renamed into place once complete, so a failure keeps whatever
// was there; a device or a pipe is written directly, and so is a file
// mounted on its own (a bind mount), which no rename may replace.
std::string write_png(const char* path, const picture& pic) {
    std::string target = path;
    if (!follow_links(&target)) return std::strerror(ELOOP);
    struct stat existing;
    const bool exists = stat(target.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) return write_in_place(target, pic);

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
    std::string why = write_temporary(fd, exists ? (existing.st_mode & 07777) : (0666 & ~mask), pic);
    int rename_errno = 0;
    if (why.empty() && std::rename(temporary, target.c_str()) != 0) {
        rename_errno = errno;
        why = std::strerror(rename_errno);
    }
    if (!why.empty()) unlink(temporary);
    temporary_exists = 0;
    if (rename_errno == EBUSY) why = write_in_place(target, pic);
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
    // The hierarchy is built for the one picture about to be rendered.
    const long long primary_rays = static_cast<long long>(o.placement.view.width) * o.placement.view.height * o.samples * o.samples;
    if (!build_scene(o.mesh.c_str(), o.placement, &error, primary_rays)) {
        report_failure(error);
        return finish_output(program, 1);
    }

    // The picture is stored by row in a buffer of its own, at any size.
    const camera cam = setup_camera(o.placement.view);
    picture pic;
    pic.width = cam.width;
    pic.height = cam.height;
    progress_line line(isatty(STDERR_FILENO) ? stderr : nullptr);
    const auto start = std::chrono::steady_clock::now();
    try {
        pic.pixels.resize(static_cast<std::size_t>(pic.width) * static_cast<std::size_t>(pic.height) * 3);
        timed_render([&] {
            render(cam, o.samples, picture_by_rows(pic.pixels.data(), cam), [&](const render_progress& p) {
                line.update(p, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            });
        });
    } catch (const std::bad_alloc&) {
        report_failure("raytracer-snapshot: out of memory while rendering");
        return finish_output(program, 1);
    }
    flush_output();

    const std::string why = write_png(o.output.c_str(), pic);
    if (!why.empty()) report_failure("cannot write " + o.output + ": " + why);

    destroy_scene(current_scene);
    delete current_scene;
    current_scene = nullptr;
    return finish_output(program, why.empty() ? 0 : 1);
}
