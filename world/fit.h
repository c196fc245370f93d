#pragma once

#include "mesh/mesh.h"
#include "render/camera.h"

// The axis of a mesh file that points up: `axis` 0, 1 or 2 for x, y or z,
// and `sign` +1 or -1. Most scans and games have +y up, CAD and 3D-printing
// files +z.
struct up_axis {
    int axis = 1;
    int sign = 1;
};

// How a loaded mesh is placed in the scene: turned so that `up` points up
// (+y in the scene) and, with `fit`, scaled and moved to where the bunny
// stands in `view`'s picture. The default leaves the mesh as loaded.
struct mesh_placement {
    up_axis up;
    bool fit = false;
    camera_view view;
};

// The box of assets/bunny.obj as loaded, in scene units: what a fit aims at.
struct scene_box {
    vector3 lo;
    vector3 hi;
};
constexpr scene_box bunny_box{{-473.45001f, 164.86f, -309.42999f}, {305.19501f, 936.67999f, 294.06f}};

// Places `m` as `p` says. The turn is a rotation that only swaps and
// negates coordinates, so it is exact and keeps every face's front. The fit
// then scales the mesh by one factor and moves it, computed in double and
// rounded once per coordinate: the centre of the footprint of its box goes
// to that of the bunny's box and its lowest point to the bunny's lowest
// (the bunny's feet sink 5 units into the floor at y = 170, and so do the
// mesh's), whatever the file's units and position. The factor is the
// largest for which the picture of its box lies wholly in the frame and is
// neither wider nor taller than the picture of the bunny's box: as large
// as the bunny, unless the frame stops it first. A mesh without extent is
// only moved.
void place_mesh(mesh& m, const mesh_placement& p);
