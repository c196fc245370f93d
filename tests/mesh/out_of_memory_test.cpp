// Running out of memory while a mesh file is read, in every format and by
// both entry points: each of the reader's allocations and mappings fails
// in turn, which must be reported in one line that says so, leave the mesh
// untouched and leak nothing; or, where the reader can do without (a
// helper thread that cannot start), give the same mesh.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "mesh/load_mesh.h"
#include "tests/support/byte_builder.h"
#include "tests/support/failing_allocations.h"
#include "tests/support/files.h"

namespace {

constexpr long count_only = std::numeric_limits<long>::max();

// Two triangles and a quad over five corners, in each format.
const float corners[5][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {2, 1, 0}};

std::string binary_ply() {
    byte_builder b;
    b.text("ply\nformat binary_little_endian 1.0\nelement vertex 5\nproperty float x\nproperty float y\n"
           "property float z\nelement face 3\nproperty list uchar int vertex_indices\nend_header\n");
    for (const auto& c : corners) b.put(c[0]).put(c[1]).put(c[2]);
    b.put<std::uint8_t>(3).put<std::int32_t>(0).put<std::int32_t>(1).put<std::int32_t>(2);
    b.put<std::uint8_t>(3).put<std::int32_t>(1).put<std::int32_t>(3).put<std::int32_t>(2);
    b.put<std::uint8_t>(4).put<std::int32_t>(1).put<std::int32_t>(4).put<std::int32_t>(3).put<std::int32_t>(2);
    return b.bytes;
}

struct format {
    const char* name;
    std::string bytes;
};

std::string stl_facets(bool binary) {
    const int triangles[4][3] = {{0, 1, 2}, {1, 3, 2}, {1, 4, 3}, {1, 3, 2}};  // the quad fanned
    byte_builder b;
    if (binary) b.text(std::string(80, ' ')).put<std::uint32_t>(4);
    else b.text("solid grid\n");
    for (const auto& t : triangles) {
        if (binary) b.put(0.0f).put(0.0f).put(1.0f);
        else b.text("facet normal 0 0 1\nouter loop\n");
        for (int i : t) {
            if (binary) b.put(corners[i][0]).put(corners[i][1]).put(corners[i][2]);
            else b.text("vertex " + std::to_string(corners[i][0]) + " " + std::to_string(corners[i][1]) + " " +
                        std::to_string(corners[i][2]) + "\n");
        }
        if (binary) b.put<std::uint16_t>(0);
        else b.text("endloop\nendfacet\n");
    }
    if (!binary) b.text("endsolid grid\n");
    return b.bytes;
}

const format formats[] = {
    {"OBJ", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nv 2 1 0\nf 1 2 3\nf 2 4 3\nf 2 5 4 3\n"},
    {"ASCII PLY", "ply\nformat ascii 1.0\nelement vertex 5\nproperty float x\nproperty float y\nproperty float z\n"
                  "element face 3\nproperty list uchar int vertex_indices\nend_header\n"
                  "0 0 0\n1 0 0\n0 1 0\n1 1 0\n2 1 0\n3 0 1 2\n3 1 3 2\n4 1 4 3 2\n"},
    {"binary PLY", binary_ply()},
    {"ASCII STL", stl_facets(false)},
    {"binary STL", stl_facets(true)},
};

struct attempt {
    bool loaded = false;
    bool untouched = true;  // the mesh as it was handed in
    int faces = -1;         // loaded
    char error[512] = "";   // no heap block of its own
    long made = 0;          // allocations and mappings made
    long leaked = 0;        // heap blocks left
};

attempt load_failing_at(const std::string& path, bool with_report, long k) {
    attempt a;
    const long before = failing_allocations::live.load();
    {
        mesh m;
        std::string error;
        testing::internal::CaptureStdout();
        {
            failing_allocations::armed failing(k);
            a.loaded = with_report ? load_mesh_file(path.c_str(), &m, &error) : read_mesh_file(path.c_str(), &m, &error);
            a.made = failing_allocations::made.load();
        }
        std::fflush(stdout);
        testing::internal::GetCapturedStdout();
        a.untouched = m.vertices == nullptr && m.faces == nullptr && m.face_count == mesh().face_count;
        a.faces = m.face_count;
        std::snprintf(a.error, sizeof a.error, "%s", error.c_str());
        if (a.loaded) release_mesh(&m);
    }
    a.leaked = failing_allocations::live.load() - before;
    return a;
}

}  // namespace

TEST(load_mesh_out_of_memory, each_failed_allocation_is_reported_and_leaks_nothing) {
    for (const format& f : formats) {
        const std::string path = write_temp_file("oom_mesh", f.bytes);
        for (const bool with_report : {true, false}) {
            SCOPED_TRACE(std::string(f.name) + (with_report ? ", load_mesh_file" : ", read_mesh_file"));
            load_failing_at(path, with_report, count_only);  // warms what lives on (a thread's scratch)
            const attempt whole = load_failing_at(path, with_report, count_only);
            ASSERT_TRUE(whole.loaded) << whole.error;
            ASSERT_EQ(whole.faces, 4);
            long reported = 0;
            for (long k = 0; k < whole.made; ++k) {
                const attempt a = load_failing_at(path, with_report, k);
                EXPECT_EQ(a.leaked, 0) << "allocation " << k;
                if (a.loaded) {
                    EXPECT_EQ(a.faces, whole.faces) << "allocation " << k;
                    continue;
                }
                ++reported;
                EXPECT_TRUE(a.untouched) << "allocation " << k;
                const std::string error = a.error;
                EXPECT_EQ(error.find('\n'), std::string::npos) << error;
                EXPECT_EQ(error.rfind(path + ": out of memory", 0), 0u) << "allocation " << k << ": " << error;
            }
            EXPECT_GT(reported, 0);
        }
    }
}
