// The sixteen-lane vectors the packet walk works in (packet_walk.h,
// packet_leaf.h), and their helpers: GCC vector extensions, so that the
// walk compiles for every instruction set (packet_isa.h). Every operation
// on a lane is an IEEE one. Part of the packet walk: included once for
// each instruction set, inside a namespace that names the set as `isa`
// (packet_walk.h; the triangle oracle test), after what this includes.

#include <immintrin.h>

#include <cstdint>

#include "bvh/packet_isa.h"

// The lanes' helpers return vectors; they are always inlined, so no call
// ever passes one, and the ABI GCC warns about is never used.
#pragma GCC diagnostic ignored "-Wpsabi"

#define PACKET_INLINE inline __attribute__((always_inline))

namespace bvh_lanes {

typedef float lanes __attribute__((vector_size(64)));
typedef std::int32_t lane_mask __attribute__((vector_size(64)));
typedef std::uint32_t lane_bits __attribute__((vector_size(64)));
typedef char lane_bytes __attribute__((vector_size(16)));
// Eight doubles, half the lanes widened, and their comparisons.
typedef double wide __attribute__((vector_size(64)));
typedef std::int64_t wide_mask __attribute__((vector_size(64)));
typedef char wide_bytes __attribute__((vector_size(8)));
typedef float half_lanes __attribute__((vector_size(32)));
// Sixteen floats in memory, aligned or not.
typedef float lanes_in_memory __attribute__((vector_size(64), aligned(4), may_alias));

PACKET_INLINE lanes splat(float x) { return lanes{} + x; }

PACKET_INLINE lanes load(const float* first) { return *reinterpret_cast<const lanes_in_memory*>(first); }

// _mm_max_ps and _mm_min_ps lane by lane: the second operand when either
// is NaN.
PACKET_INLINE lanes max_lanes(lanes a, lanes b) { return a > b ? a : b; }
PACKET_INLINE lanes min_lanes(lanes a, lanes b) { return a < b ? a : b; }

PACKET_INLINE lane_bits as_bits(lanes x) { return reinterpret_cast<lane_bits>(x); }
PACKET_INLINE lanes as_lanes(lane_bits x) { return reinterpret_cast<lanes>(x); }

// Bit k set for each lane k of a comparison that holds. Each comparison
// is to be taken to bits on its own: GCC turns comparisons combined as
// vectors in an inlined function into one comparison a lane.
PACKET_INLINE unsigned bits(lane_mask m) {
    const lane_bytes narrow = __builtin_convertvector(m, lane_bytes);
    return static_cast<unsigned>(_mm_movemask_epi8(reinterpret_cast<__m128i>(narrow)));
}

// A comparison's lanes straight to bits. AVX-512 compares into a mask
// register, read in one move; the other sets narrow the comparison's
// lanes (bits above). Both are IEEE comparisons, false when either operand
// is NaN.
PACKET_INLINE unsigned bits_less(lanes a, lanes b) {
    if constexpr (isa == packet_isa::avx512)
        return _mm512_cmp_ps_mask(a, b, _CMP_LT_OQ);
    else
        return bits(a < b);
}
PACKET_INLINE unsigned bits_less_equal(lanes a, lanes b) {
    if constexpr (isa == packet_isa::avx512)
        return _mm512_cmp_ps_mask(a, b, _CMP_LE_OQ);
    else
        return bits(a <= b);
}

// The same for eight doubles: each byte's top bit multiplied up into the
// top byte, lane k's to bit 56 + k (no two products share a bit, so
// nothing carries).
PACKET_INLINE unsigned bits(wide_mask m) {
    const wide_bytes narrow = __builtin_convertvector(m, wide_bytes);
    std::uint64_t b;
    __builtin_memcpy(&b, &narrow, sizeof b);
    return static_cast<unsigned>(((b & 0x8080808080808080u) * 0x0002040810204081u) >> 56);
}

// Lanes 0-7 or 8-15 widened to double, exactly; and back, rounded to
// nearest as _mm_cvtpd_ps does.
PACKET_INLINE wide low_half(lanes x) { return __builtin_convertvector(__builtin_shufflevector(x, x, 0, 1, 2, 3, 4, 5, 6, 7), wide); }
PACKET_INLINE wide high_half(lanes x) {
    return __builtin_convertvector(__builtin_shufflevector(x, x, 8, 9, 10, 11, 12, 13, 14, 15), wide);
}
PACKET_INLINE lanes narrow(wide low, wide high) {
    const half_lanes l = __builtin_convertvector(low, half_lanes), h = __builtin_convertvector(high, half_lanes);
    return __builtin_shufflevector(l, h, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
}

}  // namespace bvh_lanes
