#include "render/matrix3x4.h"

void invert_rigid(matrix3x4& a) {
    const float neg_t[3] = {-a.m[0][3], -a.m[1][3], -a.m[2][3]};

    for (int i = 0; i < 3; ++i) {
        for (int j = i + 1; j < 3; ++j) {
            const float upper = a.m[i][j];
            a.m[i][j] = a.m[j][i];
            a.m[j][i] = upper;
        }
    }

    for (int i = 0; i < 3; ++i) {
        a.m[i][3] = a.m[i][0] * neg_t[0] + a.m[i][1] * neg_t[1] + a.m[i][2] * neg_t[2];
    }
}
