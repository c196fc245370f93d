#pragma once

// Boxes as the builder handles them: in vector registers, a triangle's box
// carrying the triangle it stands for.

#include <emmintrin.h>

#include <cstdint>
#include <cstring>
#include <limits>

#include "bvh/reach.h"

namespace bvh_build {

// A box with x, y, z in the first three lanes of `lo` and `hi`. The fourth
// lanes carry no geometry: a triangle's box holds its triangle_tag in lo's,
// every other box zero or what growing over tagged boxes left there.
struct vbox {
    __m128 lo = _mm_set1_ps(std::numeric_limits<float>::infinity());
    __m128 hi = _mm_set1_ps(-std::numeric_limits<float>::infinity());

    void grow(const vbox& other) {
        lo = _mm_min_ps(lo, other.lo);
        hi = _mm_max_ps(hi, other.hi);
    }
    void grow(__m128 point) {
        lo = _mm_min_ps(lo, point);
        hi = _mm_max_ps(hi, point);
    }
};

// The triangle a box stands for: its index in the mesh, and whether it is
// a sliver. It rides in the box's spare lane so that the boxes the build
// sorts and partitions millions of times stay 32 bytes, with the triangle
// moving along for free.
struct triangle_tag {
    std::uint32_t bits = 0;

    static constexpr std::uint32_t sliver_bit = std::uint32_t{1} << 31;

    static triangle_tag of(std::int32_t index, bool sliver) {
        return {static_cast<std::uint32_t>(index) | (sliver ? sliver_bit : 0)};
    }
    std::int32_t index() const { return static_cast<std::int32_t>(bits & ~sliver_bit); }
    bool is_sliver() const { return (bits & sliver_bit) != 0; }
};

// The triangle's reach box, tagged.
inline vbox tagged_box(const box3& b, triangle_tag tag) {
    float lane;
    std::memcpy(&lane, &tag.bits, sizeof lane);
    vbox v;
    v.lo = _mm_setr_ps(b.lo[0], b.lo[1], b.lo[2], lane);
    v.hi = _mm_setr_ps(b.hi[0], b.hi[1], b.hi[2], 0.0f);
    return v;
}

inline triangle_tag tag_of(const vbox& b) {
    return {static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_castps_si128(_mm_shuffle_ps(b.lo, b.lo, 0xff))))};
}

// `lo` with its fourth lane cleared, for arithmetic. Growing boxes only
// takes minima and maxima of the tag lane, but small tags read as denormal
// floats, and any arithmetic on one costs a microcode assist of a hundred
// cycles or more.
inline __m128 without_tag(__m128 lo) { return _mm_and_ps(lo, _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0))); }

inline float half_area(const vbox& b) {
    const __m128 d = _mm_max_ps(_mm_sub_ps(b.hi, without_tag(b.lo)), _mm_setzero_ps());  // an empty box has none
    const __m128 p = _mm_mul_ps(d, _mm_shuffle_ps(d, d, _MM_SHUFFLE(3, 0, 2, 1)));  // xy, yz, zx
    alignas(16) float v[4];
    _mm_store_ps(v, p);
    return v[0] + v[1] + v[2];
}

inline __m128 centre(const vbox& b) { return _mm_add_ps(without_tag(b.lo), b.hi); }  // doubled

// The bounds of a run of boxes and of their (doubled) centres.
struct part {
    vbox bounds, centres;

    void take(const vbox& b) {
        bounds.grow(b);
        centres.grow(centre(b));
    }
    void take(const part& p) {
        bounds.grow(p.bounds);
        centres.grow(p.centres);
    }
};

}  // namespace bvh_build
