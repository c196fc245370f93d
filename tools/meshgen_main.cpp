// raytracer-meshgen: writes the meshes of the scale benchmark as OBJ files
// (scripts/bench makes them in build-bench/meshes/; they are never kept in
// the repository). Same arguments, same bytes.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "mesh/obj/load_obj.h"
#include "tools/meshgen.h"

namespace {

const char usage[] =
    "usage: raytracer-meshgen subdivide N INPUT.obj OUTPUT.obj\n"
    "       raytracer-meshgen cylinder OUTPUT.obj\n"
    "       raytracer-meshgen platform OUTPUT.obj\n"
    "       raytracer-meshgen outlier METRES INPUT.obj OUTPUT.obj\n"
    "       raytracer-meshgen flatten INPUT.obj OUTPUT.obj\n";

const char help[] =
    "Writes one mesh for the scale benchmark, in metres, where the bunny sits:\n"
    "  subdivide N  every triangle of INPUT split into four at its edge\n"
    "               midpoints, N times (the same surface, 4^N times the faces)\n"
    "  cylinder     a CAD export: 4096 quads round the side, each cap one\n"
    "               4096-corner polygon (16,380 triangles once fanned)\n"
    "  platform     a slicer's print bed: a plate with 12 slots, triangulated\n"
    "               as STL exporters do (6,156 triangles, most of them slivers)\n"
    "  outlier D    INPUT plus one 1 m triangle D metres away\n"
    "  flatten      INPUT squashed onto a vertical line (x and z times 1e-6)\n"
    "The file is written next to OUTPUT first and renamed once complete.\n";

constexpr int cylinder_segments = 4096;
constexpr double flatten_factor = 1e-6;

bool read_mesh(const char* path, poly_mesh* out) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) {
        std::fprintf(stderr, "raytracer-meshgen: cannot open %s: %s\n", path, std::strerror(errno));
        return false;
    }
    std::vector<char> text;
    char chunk[1 << 16];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.insert(text.end(), chunk, chunk + got);
    std::fclose(f);
    mesh m;
    std::string error;
    if (!parse_obj(text.data(), text.size(), path, &m, &error)) {
        std::fprintf(stderr, "raytracer-meshgen: %s\n", error.c_str());
        return false;
    }
    *out = from_loaded(m);
    release_mesh(&m);
    return true;
}

bool write_mesh(const poly_mesh& m, const std::string& path, const std::string& comment) {
    const std::string part = path + ".part";
    std::FILE* f = std::fopen(part.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "raytracer-meshgen: cannot write %s: %s\n", part.c_str(), std::strerror(errno));
        return false;
    }
    const bool written = write_obj(m, f, comment.c_str());
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
    } else {
        return bad_arguments(("unknown kind or wrong operands: '" + kind + "'").c_str());
    }
    return write_mesh(m, argv[argc - 1], comment) ? 0 : 1;
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
