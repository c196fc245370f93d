// The nine progress lines of a finished load, on standard output.

#include <cfloat>
#include <cstdio>
#include <limits>

#include "mesh/load_obj.h"

void print_obj_report(const mesh& m) {
    std::printf("\t\tfound %i verts \n", m.vertex_count);
    std::printf("\t\tfound %i faces \n", m.face_count);
    std::printf("\t\tscaling object: \n");
    std::printf("\n");
    std::printf("\n");
    // The maximum starts at the lowest float, so a mesh lying wholly below
    // y = 0 still reports its real top.
    float max_y = std::numeric_limits<float>::lowest();
    float min_y = FLT_MAX;
    for (int i = 0; i < m.vertex_count; ++i) {
        const float y = m.vertices[i].y;
        if (y < min_y) min_y = y;
        if (y > max_y) max_y = y;
    }
    std::printf("\t\tmax y = %f \n", static_cast<double>(max_y));
    std::printf("\t\tmin y = %f \n", static_cast<double>(min_y));
    std::printf("\t\t\tallocated mem\n");
    std::printf("\t\t\tcalculating normals, v_normals\n");
}
