// raytracer-meshgen: writes the meshes of the scale benchmark as OBJ, PLY or
// STL files (scripts/bench makes them in build-bench/meshes/; they are never
// kept in the repository). Same arguments, same bytes.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "mesh/load_mesh.h"
#include "tools/meshgen.h"

namespace {

const char usage[] =
    "usage: raytracer-meshgen [--format F] subdivide N INPUT OUTPUT\n"
    "       raytracer-meshgen [--format F] cylinder OUTPUT\n"
    "       raytracer-meshgen [--format F] platform OUTPUT\n"
    "       raytracer-meshgen [--format F] outlier METRES INPUT OUTPUT\n"
    "       raytracer-meshgen [--format F] flatten INPUT OUTPUT\n"
    "       raytracer-meshgen [--format F] convert INPUT OUTPUT\n"
    "       raytracer-meshgen [--format F] twosided INPUT OUTPUT\n";

const char help[] =
    "Writes one mesh, in metres, where the bunny sits (for the scale benchmark,\n"
    "the gallery and the tests):\n"
    "  subdivide N  every triangle of INPUT split into four at its edge\n"
    "               midpoints, N times (the same surface, 4^N times the faces)\n"
    "  cylinder     a CAD export: 4096 quads round the side, each cap one\n"
    "               4096-corner polygon (16,380 triangles once fanned)\n"
    "  platform     a slicer's print bed: a plate with 12 slots, triangulated\n"
    "               as STL exporters do (6,156 triangles, most of them slivers)\n"
    "  outlier D    INPUT plus one 1 m triangle D metres away\n"
    "  flatten      INPUT squashed onto a vertical line (x and z times 1e-6)\n"
    "  convert      INPUT as it is, in the format asked for\n"
    "  twosided     INPUT with every face followed by its reversed copy\n"
    "INPUT is any mesh file the program reads (OBJ, PLY or STL). F is the format\n"
    "written: obj (the default), ply (binary little endian), ply-be (binary big\n"
    "endian), ply-ascii, stl (binary) or stl-ascii.\n"
    "The file is written next to OUTPUT first and renamed once complete.\n";

constexpr int cylinder_segments = 4096;
constexpr double flatten_factor = 1e-6;

const char* const formats[] = {"obj", "ply", "ply-be", "ply-ascii", "stl", "stl-ascii"};

bool read_mesh(const char* path, poly_mesh* out) {
    mesh m;
    std::string error;
    if (!read_mesh_file(path, &m, &error)) {
        std::fprintf(stderr, "raytracer-meshgen: %s\n", error.c_str());
        return false;
    }
    *out = from_loaded(m);
    release_mesh(&m);
    return true;
}

bool write_format(const poly_mesh& m, std::FILE* f, const std::string& format, const char* comment) {
    if (format == "ply") return write_ply(m, f, ply_encoding::binary_little_endian, comment);
    if (format == "ply-be") return write_ply(m, f, ply_encoding::binary_big_endian, comment);
    if (format == "ply-ascii") return write_ply(m, f, ply_encoding::ascii, comment);
    if (format == "stl") return write_stl(m, f, true, comment);
    if (format == "stl-ascii") return write_stl(m, f, false, comment);
    return write_obj(m, f, comment);
}

bool write_mesh(const poly_mesh& m, const std::string& path, const std::string& format, const std::string& comment) {
    const std::string part = path + ".part";
    std::FILE* f = std::fopen(part.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "raytracer-meshgen: cannot write %s: %s\n", part.c_str(), std::strerror(errno));
        return false;
    }
    const bool written = write_format(m, f, format, comment.c_str());
    const long bytes = std::ftell(f);
    if (std::fclose(f) != 0 || !written || std::rename(part.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "raytracer-meshgen: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        std::remove(part.c_str());
        return false;
    }
    std::printf("%s: %zu vertices, %lld triangles, %.1f MB\n", path.c_str(), m.vertices.size(),
                static_cast<long long>(m.triangle_count()), static_cast<double>(bytes) / 1e6);
    return true;
}

int bad_arguments(const char* why) {
    std::fprintf(stderr, "raytracer-meshgen: %s\n%s", why, usage);
    return 2;
}

int run(int argc, char** argv) {
    std::string format = "obj";
    if (argc >= 2 && std::strcmp(argv[1], "--format") == 0) {
        if (argc < 3) return bad_arguments("--format needs a value");
        format = argv[2];
        if (std::find(std::begin(formats), std::end(formats), format) == std::end(formats))
            return bad_arguments(("unknown format '" + format + "'").c_str());
        argv += 2;
        argc -= 2;
    }
    if (argc < 2) return bad_arguments("no kind given");
    const std::string kind = argv[1];
    if (kind == "--help" || kind == "-h") {
        std::printf("%s%s", usage, help);
        return 0;
    }
    const int operands = argc - 2;
    poly_mesh m;
    std::string comment = "raytracer-meshgen";
    // Input files by their base name: the same mesh, wherever it was read.
    for (int i = 1; i < argc - 1; ++i) {
        const char* slash = std::strrchr(argv[i], '/');
        comment += std::string(" ") + (slash ? slash + 1 : argv[i]);
    }

    if (kind == "subdivide" && operands == 3) {
        char* end = nullptr;
        const long times = std::strtol(argv[2], &end, 10);
        if (*end != '\0' || times < 0 || times > 6) return bad_arguments("N must be 0 to 6");
        if (!read_mesh(argv[3], &m)) return 1;
        if (m.triangle_count() * (1LL << (2 * times)) > 0x7fffffffLL)
            return bad_arguments("too many triangles for the loader");
        m = subdivide(m, static_cast<int>(times));
    } else if (kind == "cylinder" && operands == 1) {
        m = make_cylinder(cylinder_segments);
    } else if (kind == "platform" && operands == 1) {
        m = make_platform();
    } else if (kind == "outlier" && operands == 3) {
        char* end = nullptr;
        const double metres = std::strtod(argv[2], &end);
        if (*end != '\0' || !(metres >= 0.0 && metres < 1e30)) return bad_arguments("METRES must be a distance");
        if (!read_mesh(argv[3], &m)) return 1;
        add_outlier(m, metres);
    } else if (kind == "flatten" && operands == 2) {
        if (!read_mesh(argv[2], &m)) return 1;
        flatten(m, flatten_factor);
    } else if (kind == "convert" && operands == 2) {
        if (!read_mesh(argv[2], &m)) return 1;
    } else if (kind == "twosided" && operands == 2) {
        if (!read_mesh(argv[2], &m)) return 1;
        m = two_sided(m);
    } else {
        return bad_arguments(("unknown kind or wrong operands: '" + kind + "'").c_str());
    }
    return write_mesh(m, argv[argc - 1], format, comment) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "raytracer-meshgen: %s\n", e.what());
        return 1;
    }
}
