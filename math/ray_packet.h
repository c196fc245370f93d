#pragma once

#include "math/ray.h"

// Rays that travel together go through the scene together: at most this
// many at a time.
constexpr int packet_size = 16;

// Up to packet_size rays side by side, each coordinate of all of them in
// one row (ray k's origin is origin[0][k], origin[1][k], origin[2][k]), as
// vector instructions take them. Every lane starts as zeros, so that a row
// is always defined, whichever lanes hold rays.
struct alignas(64) ray_packet {
    float origin[3][packet_size] = {};
    float direction[3][packet_size] = {};

    ray get(int k) const {
        return {{origin[0][k], origin[1][k], origin[2][k]}, {direction[0][k], direction[1][k], direction[2][k]}};
    }
    void set(int k, const ray& r) {
        origin[0][k] = r.origin.x;
        origin[1][k] = r.origin.y;
        origin[2][k] = r.origin.z;
        direction[0][k] = r.direction.x;
        direction[1][k] = r.direction.y;
        direction[2][k] = r.direction.z;
    }
};
