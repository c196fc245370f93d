#include "mesh/load_obj.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool same_bits(const vector3& a, const vector3& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

// The default mesh against a plain line-by-line scanf reading of the same
// file: the floats and faces must agree bit for bit.
TEST(default_mesh, matches_a_scanf_reading_bit_for_bit) {
    const std::string path = std::string(RT_SOURCE_DIR) + "/assets/bunny.obj";
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
