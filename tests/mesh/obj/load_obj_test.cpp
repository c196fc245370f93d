// mesh/obj/load_obj.cpp and what it promises in load_obj.h: loads from
// files and streams, the progress report, the default bunny, and the
// fuzzer's inputs.

#include "mesh/obj/load_obj.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/bunny.h"
#include "tests/support/expect_vector.h"
#include "tests/support/files.h"
#include "tests/support/obj_outcome.h"

namespace {

// Loads a file written with `text` through the stream entry, returning its
// standard output.
std::string load_file(const std::string& text, mesh* m, bool* ok, std::string* error) {
    const std::string path = write_temp_file("load.obj", text);
    testing::internal::CaptureStdout();
    *ok = load_obj(std::fopen(path.c_str(), "r"), m, "load.obj", error);
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

std::string report(const char* max_y, const char* min_y, int verts, int faces) {
    return "\t\tfound " + std::to_string(verts) + " verts \n\t\tfound " + std::to_string(faces) +
           " faces \n\t\tscaling object: \n\n\n\t\tmax y = " + max_y + " \n\t\tmin y = " + min_y +
           " \n\t\t\tallocated mem\n\t\t\tcalculating normals, v_normals\n";
}

const char* const flt_max_text = "340282346638528859811704183484516925440.000000";

bool same_bits(const vector3& a, const vector3& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::vector<std::string> files_in(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

}  // namespace

TEST(load_obj, scales_reports_and_closes_over_a_file) {
    mesh m;
    bool ok = false;
    std::string error;
    const std::string out = load_file("# one vertex\nv 0.1 0.2 0.3\n", &m, &ok, &error);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(out, report("1000.000000", "1000.000000", 1, 0));
    EXPECT_EQ(m.vertex_count, 1);
    EXPECT_EQ(m.face_count, 0);
    EXPECT_VECTOR_FLOAT_EQ(m.vertices[0], 500.0f, 1000.0f, 1500.0f);
    release_mesh(&m);
}

TEST(load_obj, empty_file_and_all_negative_heights_report_real_extents) {
    mesh m;
    bool ok = false;
    std::string error;
    EXPECT_EQ(load_file("", &m, &ok, &error), report((std::string("-") + flt_max_text).c_str(), flt_max_text, 0, 0));
    ASSERT_TRUE(ok);
    EXPECT_EQ(m.vertex_count, 0);
    EXPECT_NE(m.vertices, nullptr);
    release_mesh(&m);

    // The top of a mesh lying wholly below y = 0 is its own, not 0.
    const std::string out = load_file("v 0 -0.1 0\nv 0 -0.3 0\nv 0 -0.2 0\nf 1 2 3\n", &m, &ok, &error);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(out, report("-500.000000", "-1500.000000", 3, 1));
    release_mesh(&m);
}

TEST(load_obj, reads_streams_that_are_not_files) {
    // No file behind the stream: it is read all the same.
    char text[] = "v 0 0 0\nv 0.001 0 0\nv 0 0.001 0\nf 1 2 3\n";
    std::FILE* stream = fmemopen(text, std::strlen(text), "r");
    mesh m;
    std::string error;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(load_obj(stream, &m, "memory", &error)) << error;
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), report("5.000000", "0.000000", 3, 1));
    EXPECT_VECTOR_FLOAT_EQ(make_face(m, 0).normal, 0, 0, 25);
    release_mesh(&m);
}

TEST(load_obj, rejection_prints_nothing_and_leaves_the_mesh) {
    mesh m;
    bool ok = true;
    std::string error;
    EXPECT_EQ(load_file("v 0 0 0\nv 0 0 0\nf 1 2\n", &m, &ok, &error), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, "load.obj:3: face needs at least three corners");
    EXPECT_EQ(m.vertex_count, -1);
    EXPECT_EQ(m.vertices, nullptr);
}

// The default mesh against a plain line-by-line scanf reading of the same
// file: the floats and faces must agree bit for bit.
TEST(default_mesh, matches_a_scanf_reading_bit_for_bit) {
    const std::string path = bunny_obj_path();
    std::vector<vector3> vertices;
    std::vector<int> corners;
    std::FILE* f = std::fopen(path.c_str(), "r");
    ASSERT_NE(f, nullptr);
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
        vector3 v;
        int a = 0, b = 0, c = 0;
        if (std::sscanf(line, "v %f %f %f", &v.x, &v.y, &v.z) == 3) {
            vertices.push_back({v.x * 5000.0f, v.y * 5000.0f, v.z * 5000.0f});
        } else if (std::sscanf(line, "f %i %i %i", &a, &b, &c) == 3) {
            corners.insert(corners.end(), {a - 1, b - 1, c - 1});
        }
    }
    std::fclose(f);
    ASSERT_EQ(vertices.size(), 34835u);
    ASSERT_EQ(corners.size(), 3u * 69666u);

    mesh m;
    std::string error;
    testing::internal::CaptureStdout();
    const bool ok = load_obj(std::fopen(path.c_str(), "r"), &m, "bunny.obj", &error);
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(out,
              "\t\tfound 34835 verts \n\t\tfound 69666 faces \n\t\tscaling object: \n\n\n"
              "\t\tmax y = 936.679993 \n\t\tmin y = 164.860001 \n"
              "\t\t\tallocated mem\n\t\t\tcalculating normals, v_normals\n");
    ASSERT_EQ(m.vertex_count, 34835);
    ASSERT_EQ(m.face_count, 69666);
    for (int i = 0; i < m.vertex_count; ++i) ASSERT_TRUE(same_bits(m.vertices[i], vertices[i])) << i;
    for (int k = 0; k < m.face_count; ++k) {
        const face fc = make_face(m, k);
        const vector3 p = vertices[corners[k * 3]], q = vertices[corners[k * 3 + 1]], r = vertices[corners[k * 3 + 2]];
        ASSERT_TRUE(same_bits(fc.vertex[0], p) && same_bits(fc.vertex[1], q) && same_bits(fc.vertex[2], r)) << k;
        const vector3 e1 = q - p, e2 = r - p;
        const float nx = e1.y * e2.z - e1.z * e2.y, ny = e1.z * e2.x - e1.x * e2.z, nz = e1.x * e2.y - e1.y * e2.x;
        ASSERT_TRUE(same_bits(fc.normal, vector3{nx, ny, nz})) << k;
    }
    release_mesh(&m);
}

// The fuzzer's seeds, and every input it ever crashed on (kept in
// tests/fuzz/regressions), read as the fuzzer reads them: in one block, and
// in blocks of the size the last byte picks on two threads, which must
// agree; seeds named valid_* load, bad_* are rejected with a "NAME:LINE:
// ..." message, and nothing may crash.
TEST(fuzz_inputs, seeds_and_regressions_load_or_are_rejected_cleanly) {
    const std::string root = source_path("tests/fuzz/");
    int seen = 0;
    for (const char* folder : {"corpus", "regressions"}) {
        for (const std::string& name : files_in(root + folder)) {
            const std::string text = read_file(root + folder + "/" + name);
            const obj_outcome whole = parse_outcome(text.data(), text.size(), name.c_str());
            const std::size_t block = 1 + (text.empty() ? 0 : static_cast<unsigned char>(text.back()) % 64);
            const obj_outcome pieces = parse_outcome(text.data(), text.size(), name.c_str(), block, 2);
            EXPECT_TRUE(pieces == whole) << name << ": " << whole.error << " / " << pieces.error;
            if (name.rfind("valid_", 0) == 0) {
                EXPECT_TRUE(whole.ok) << name << ": " << whole.error;
            }
            if (name.rfind("bad_", 0) == 0) {
                EXPECT_FALSE(whole.ok) << name;
                EXPECT_EQ(whole.error.rfind(name + ":", 0), 0u) << whole.error;
            }
            ++seen;
        }
    }
    EXPECT_GE(seen, 20);
}
