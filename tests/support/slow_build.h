#pragma once

// Sanitizer and unoptimised builds are there to check memory and races, not
// coverage: there the comparisons against the linear scan run on a sample.
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
constexpr bool slow_build = false;
#else
constexpr bool slow_build = true;
#endif
