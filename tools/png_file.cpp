#include "tools/png_file.h"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>

#include "app/pixel.h"

namespace {

// The signals that end a run by default and leave a temporary file behind.
constexpr int interrupting_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

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
    // The fastest compression: the rgb_picture is written once per run, and
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

// The window's rgb_picture as PNG on `file`: each channel truncated toward zero
// and held to 0..255 by the one conversion the display uses, row 0 at the
// top. Returns the reason it failed, or "".
std::string encode_png(std::FILE* file, const rgb_picture& pic) {
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

// Writes the rgb_picture straight into `path`: a device, a pipe, or a file
// that cannot be replaced. Returns the reason it failed, or "".
std::string write_in_place(const std::string& path, const rgb_picture& pic) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::string why = file ? encode_png(file, pic) : std::strerror(errno);
    if (file && std::fclose(file) != 0 && why.empty()) why = std::strerror(errno);
    return why;
}

// Follows the symbolic links `path` ends in: the rgb_picture goes to the file
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

// Writes the complete rgb_picture to the open temporary `fd` with `mode`, on
// the disk before it counts as written. Returns why it failed, or "". (A
// mode the file system cannot hold, as on FAT, is no reason to fail.)
std::string write_temporary(int fd, mode_t mode, const rgb_picture& pic) {
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

// The rgb_picture written to `target` through a temporary file renamed over
// it, once `temporary` holds the pattern; `existing` is the file replaced,
// if any. The caller has the signals that would interrupt it remove the
// temporary file.
std::string write_replacing(const std::string& target, const struct stat* existing, const rgb_picture& pic) {
    sigset_t handled, before;
    sigemptyset(&handled);
    for (int s : interrupting_signals) sigaddset(&handled, s);
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
    std::string why = write_temporary(fd, existing ? (existing->st_mode & 07777) : (0666 & ~mask), pic);
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

}  // namespace

std::string write_png(const char* path, const rgb_picture& pic) {
    std::string target = path;
    if (!follow_links(&target)) return std::strerror(ELOOP);
    struct stat existing;
    const bool exists = stat(target.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) return write_in_place(target, pic);

    const std::string pattern = temporary_pattern(target);
    if (pattern.size() >= sizeof temporary) return std::strerror(ENAMETOOLONG);
    std::memcpy(temporary, pattern.c_str(), pattern.size() + 1);
    // Signals the caller ignores stay ignored; the others remove the
    // temporary file while it exists, and get their handlers back after.
    struct sigaction kept[std::size(interrupting_signals)];
    bool replaced[std::size(interrupting_signals)] = {};
    for (std::size_t k = 0; k < std::size(interrupting_signals); ++k) {
        const int s = interrupting_signals[k];
        if (sigaction(s, nullptr, &kept[k]) != 0 || kept[k].sa_handler == SIG_IGN) continue;
        std::signal(s, remove_temporary_and_die);
        replaced[k] = true;
    }
    const std::string why = write_replacing(target, exists ? &existing : nullptr, pic);
    for (std::size_t k = 0; k < std::size(interrupting_signals); ++k)
        if (replaced[k]) sigaction(interrupting_signals[k], &kept[k], nullptr);
    return why;
}
