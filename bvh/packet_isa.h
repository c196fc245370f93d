#pragma once

// The instruction sets the packet walks (intersect_bvh_packet,
// occluded_bvh_packet) are compiled for. They run on the widest the
// processor has; the answers are the same on each, and the tests check
// every one the processor can run.
enum class packet_isa { baseline, avx2, avx512 };

// Whether this processor can run the walk compiled for `isa`.
bool packet_isa_supported(packet_isa isa);

// From now on the packet walks use `isa`; false, and nothing changes, when
// the processor cannot run it. Not while packets are being traced.
bool use_packet_isa(packet_isa isa);
