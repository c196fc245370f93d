// raytracer-snapshot: the program without a window. It builds the same
// scene, renders it, prints the same standard output up to the elapsed-time
// line and writes the picture the window would show to a PNG file.

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "app/image.h"
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
    "  --mesh PATH        the OBJ mesh to load (default: bunny.obj in the\n"
    "                     working directory)\n"
    "  --output FILE.png  where to write the picture (default: raytracer.png)\n"
    "  --help             show this text and exit\n"
    "\n"
    "Exit status: 0 on success, 1 when the mesh, the PNG file or standard\n"
    "output fails (or memory runs out), 2 on bad arguments.\n";

struct options {
    std::string mesh = "bunny.obj";
    std::string output = "raytracer.png";
};

int bad_arguments(const char* why) {
    std::fprintf(stderr, "raytracer-snapshot: %s\n%s", why, usage);
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
                if (i + 1 >= argc) return bad_arguments((n + " needs a value").c_str());
                value = argv[++i];
            } else if (arg.compare(0, n.size() + 1, n + "=") == 0) {
                value = arg.substr(n.size() + 1);
            } else {
                continue;
            }
            target = n == "--mesh" ? &o->mesh : &o->output;
            break;
        }
        if (!target) return bad_arguments(("unknown argument '" + arg + "'").c_str());
        if (value.empty()) return bad_arguments((arg + ": empty value").c_str());
        *target = value;
    }
    return -1;
}

// The window's picture: each channel truncated toward zero and held to
// 0..255 by the one conversion the display uses, row 0 at the top.
bool write_png(const char* path) {
    std::FILE* file = std::fopen(path, "wb");
    if (!file) {
        std::fprintf(stderr, "cannot write %s: %s\n", path, std::strerror(errno));
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        std::fclose(file);
        std::fprintf(stderr, "cannot write %s: out of memory\n", path);
        return false;
    }
    std::vector<png_byte> rows(static_cast<std::size_t>(image_width) * image_height * 3);
    for (int y = 0; y < image_height; ++y) {
        png_byte* row = &rows[static_cast<std::size_t>(y) * image_width * 3];
        for (int x = 0; x < image_width; ++x) {
            const float* pixel = &image[image_index(x, y)];
            for (int c = 0; c < 3; ++c) row[x * 3 + c] = to_8bit(pixel[c]);
        }
    }
    std::vector<png_bytep> row_pointers(image_height);
    for (int y = 0; y < image_height; ++y) row_pointers[static_cast<std::size_t>(y)] = &rows[static_cast<std::size_t>(y) * image_width * 3];

    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        std::fprintf(stderr, "cannot write %s: PNG encoding failed\n", path);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, image_width, image_height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, row_pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fclose(file) != 0) {
        std::fprintf(stderr, "cannot write %s: %s\n", path, std::strerror(errno));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const char* const program = "raytracer-snapshot";
    hold_closed_standard_streams();
    options o;
    const int status = parse_arguments(argc, argv, &o);
    if (status >= 0) return finish_output(program, status);

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

    const bool written = write_png(o.output.c_str());

    destroy_scene(current_scene);
    delete current_scene;
    current_scene = nullptr;
    return finish_output(program, written ? 0 : 1);
}
