#pragma once

#include "math/vector3.h"
#include "mesh/mesh.h"

// How far a shadow ray must go before what it meets can be told from the
// surface it leaves. The derivation of every constant here is in
// docs/shadow-bounds.md.
//
// A hit point is computed in float and lies a little off the triangle it
// struck. A second triangle on the same corners (a two-sided mesh's reversed
// copy) faces the light from there, and its own test accepts points a
// little off those corners' plane too, so a shadow ray may meet it just
// after leaving. It can meet it only while it is still within the two
// triangles' rounding of their plane and over their common footprint:
// beyond either, what it meets is something else. Within them, what faces
// the struck triangle's way rises out of it (a fold of the surface, which
// shadows); what faces the other way is the surface's own other side (the
// copy, or its neighbours' copies), which cannot be told from the lit
// point.

// What a hit leaves for its shadow rays: the mesh triangle struck and the
// hit point, taken before any shadow ray changes what an object remembers
// of its latest hit. No mesh: no allowance at all.
struct surface_hit {
    const mesh* geometry = nullptr;
    int triangle = -1;
    vector3 point;
};

// What the shadow rays of a hit on a triangle allow for, in double: the
// plane's unit normal (the triangle's front), the hit point's height over
// the plane, the inward unit normal of each edge (in the plane) and the
// point's distance inside each edge, and the two allowances of the
// derivation: `slab`, how far off the plane the copy's test may accept a
// point, and `band`, how far outside the footprint. Worked out only when a
// shadow ray meets something: most meet nothing.
struct hit_tolerance {
    bool triangle = false;
    double normal[3] = {};
    double height = 0.0;
    double inward[3][3] = {};
    double inside[3] = {};
    double slab = 0.0;
    double band = 0.0;
};

// The tolerance of a hit at `point` on the triangle with these corners, its
// front the side (c1 - c0) × (c2 - c0) points to; none for no triangle.
hit_tolerance triangle_tolerance(const vector3 corner[3], const vector3& point);
hit_tolerance triangle_tolerance(const surface_hit& hit);

// The distance along a shadow ray of unit direction `l` from the hit point
// under which what it meets may be the struck triangle's copy: until the ray
// has risen above the slab or left the footprint by more than the band,
// whichever comes first. 0 when there is no allowance or no copy can be
// met; rounded up to a float.
float shadow_reach(const hit_tolerance& h, const vector3& l);

// Whether a surface met within the reach, whose unit normal there is
// `facing`, may be the surface's own other side: whether it faces against
// the struck triangle.
bool may_be_copy(const hit_tolerance& h, const vector3& facing);
