// mesh/load_mesh.cpp: formats told by content, the progress report for
// every format, files that are not regular files, and the failures before
// any reader runs.

#include "mesh/load_mesh.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

#include "mesh/input/block_reader.h"
#include "tests/support/byte_builder.h"
#include "tests/support/files.h"

namespace {

// One triangle standing above the floor, in each format.
const char* const triangle_obj = "v 0 0.04 -0.05\nv 0 0.04 0.05\nv 0 0.06 0\nf 1 2 3\n";
const char* const triangle_ply =
    "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\nproperty float z\n"
    "element face 1\nproperty list uchar int vertex_indices\nend_header\n0 0.04 -0.05\n0 0.04 0.05\n0 0.06 0\n3 0 1 2\n";

std::string triangle_stl() {
    byte_builder b{false, std::string(80, '\0')};
    b.put<std::uint32_t>(1).put(0.0f).put(0.0f).put(0.0f);
    for (float c : {0.0f, 0.04f, -0.05f, 0.0f, 0.04f, 0.05f, 0.0f, 0.06f, 0.0f}) b.put(c);
    return b.put<std::uint16_t>(0).bytes;
}

std::string report(int verts) {
    return "\t\tfound " + std::to_string(verts) +
           " verts \n\t\tfound 1 faces \n\t\tscaling object: \n\n\n\t\tmax y = 300.000000 \n\t\tmin y = 200.000000 \n"
           "\t\t\tallocated mem\n\t\t\tcalculating normals, v_normals\n";
}

// Loads `path`, returning what it printed.
std::string load(const std::string& path, mesh* m, bool* ok, std::string* error) {
    testing::internal::CaptureStdout();
    *ok = load_mesh_file(path.c_str(), m, error);
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// The corners of triangle 0 as the scene takes them.
void expect_the_triangle(const mesh& m) {
    ASSERT_EQ(m.face_count, 1);
    const face f = make_face(m, 0);
    const float expected[3][3] = {{0, 0.04f * 5000.0f, -0.05f * 5000.0f}, {0, 0.04f * 5000.0f, 0.05f * 5000.0f}, {0, 0.06f * 5000.0f, 0}};
    for (int j = 0; j < 3; ++j) {
        EXPECT_EQ(f.vertex[j].x, expected[j][0]);
        EXPECT_EQ(f.vertex[j].y, expected[j][1]);
        EXPECT_EQ(f.vertex[j].z, expected[j][2]);
    }
}

// `data` through a pipe, as /dev/fd/N: its size is unknown and it can be
// read only once.
template <typename body>
void through_pipe(const std::string& data, body&& read) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::thread writer([&] {
        for (std::size_t at = 0; at < data.size();) {
            const ssize_t n = write(fds[1], data.data() + at, data.size() - at);
            if (n <= 0) break;
            at += static_cast<std::size_t>(n);
        }
        close(fds[1]);
    });
    read("/dev/fd/" + std::to_string(fds[0]));
    writer.join();
    close(fds[0]);
}

}  // namespace

TEST(load_mesh, formats_are_told_by_their_first_bytes) {
    const std::string binary_stl = triangle_stl();
    const struct {
        std::string head;
        long long size;
        mesh_format format;
    } cases[] = {
        {"ply\nformat ascii 1.0\n", -1, mesh_format::ply},
        {"ply\r\n", 5, mesh_format::ply},
        {"ply \n", 5, mesh_format::obj},
        {"plywood\n", 8, mesh_format::obj},
        {"solid x\n", 8, mesh_format::stl_ascii},
        {binary_stl, static_cast<long long>(binary_stl.size()), mesh_format::stl_binary},
        {binary_stl, -1, mesh_format::stl_binary},
        {triangle_obj, -1, mesh_format::obj},
        {"# solid\n", 8, mesh_format::obj},
        {"", 0, mesh_format::obj},
    };
    for (const auto& c : cases) EXPECT_EQ(mesh_format_of(c.head.data(), c.head.size(), c.size), c.format) << c.head;
}

TEST(load_mesh, every_format_loads_and_reports_from_a_file_and_a_pipe) {
    const struct {
        const char* name;
        std::string data;
        int verts;
    } files[] = {
        {"t.obj", triangle_obj, 3},
        {"t.ply", triangle_ply, 3},
        {"t.stl", triangle_stl(), 3},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        mesh m;
        bool ok = false;
        std::string error;
        EXPECT_EQ(load(write_temp_file(f.name, f.data), &m, &ok, &error), report(f.verts));
        ASSERT_TRUE(ok) << error;
        expect_the_triangle(m);
        release_mesh(&m);

        through_pipe(f.data, [&](const std::string& path) {
            EXPECT_EQ(load(path, &m, &ok, &error), report(f.verts));
            ASSERT_TRUE(ok) << error;
            expect_the_triangle(m);
            release_mesh(&m);
        });
    }
}

TEST(load_mesh, an_obj_stream_gets_back_the_bytes_looked_at) {
    // Longer than the buffer the first bytes are read into, so that the
    // OBJ reader's stream hands out the buffer and then reads on.
    std::string text = "# comment\n";
    const int vertices = 400000;
    for (int i = 0; i < vertices; ++i) text += i % 2 ? "v 0 0.04 -0.05\n" : "v 0 0.06 0\n";
    text += "f 1 2 3\n";
    ASSERT_GT(text.size(), block_reader::default_block);
    through_pipe(text, [&](const std::string& path) {
        mesh m;
        std::string error;
        testing::internal::CaptureStdout();
        const bool ok = load_mesh_file(path.c_str(), &m, &error);
        const std::string out = testing::internal::GetCapturedStdout();
        ASSERT_TRUE(ok) << error;
        EXPECT_EQ(m.vertex_count, vertices);
        EXPECT_EQ(m.face_count, 1);
        EXPECT_NE(out.find("max y = 300.000000"), std::string::npos);
        release_mesh(&m);
    });
}

TEST(load_mesh, files_that_cannot_be_opened_or_read) {
    const std::string folder = testing::TempDir() + std::to_string(getpid()) + "_a_folder";
    mkdir(folder.c_str(), 0700);
    const struct {
        std::string path;
        std::string error;
    } cases[] = {
        {"no/such/mesh.ply", "cannot open no/such/mesh.ply: No such file or directory"},
        {folder, "cannot read " + folder + ": Is a directory"},
    };
    for (const auto& c : cases) {
        mesh m;
        bool ok = true;
        std::string error;
        EXPECT_EQ(load(c.path, &m, &ok, &error), "");
        EXPECT_FALSE(ok);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(m.vertex_count, -1);
    }
}

TEST(load_mesh, the_tools_read_without_a_report) {
    for (const std::string& data : {std::string(triangle_obj), std::string(triangle_ply), triangle_stl()}) {
        const std::string path = write_temp_file("quiet.mesh", data);
        mesh m;
        std::string error;
        testing::internal::CaptureStdout();
        const bool ok = read_mesh_file(path.c_str(), &m, &error);
        std::fflush(stdout);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        ASSERT_TRUE(ok) << error;
        expect_the_triangle(m);
        release_mesh(&m);
    }
}
