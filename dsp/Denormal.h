#pragma once

#include <bit>
#include <cstdint>

// The exponent-bit rule: a value whose exponent bits are all zero (zero or
// subnormal) is stored as 0. Used in every feedback path and decaying state
// instead of changing the floating-point mode.
inline float flushDenormal(float x) {
    return (std::bit_cast<std::uint32_t>(x) & 0x7f800000u) != 0 ? x : 0.0f;
}

inline double flushDenormal(double x) {
    return (std::bit_cast<std::uint64_t>(x) & 0x7ff0000000000000ull) != 0 ? x : 0.0;
}

// The same rule over a whole buffer, in place.
inline void flushDenormals(float* buffer, int n) {
    for (int i = 0; i < n; ++i) buffer[i] = flushDenormal(buffer[i]);
}
