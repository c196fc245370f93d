#pragma once

// What a ray test answers, from a triangle's test to an object's intersect:
// any non-zero value is a hit.
constexpr int hit_none = 0;
constexpr int hit_outside = 1;   // met from the side the normal faces
constexpr int hit_inside = -1;   // a sphere's far crossing
