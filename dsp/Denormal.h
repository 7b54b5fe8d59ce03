#pragma once

#include <bit>
#include <cstdint>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

// The flush rule: a magnitude below 2^-100 (about 7.9e-31, some 600 dB under
// full scale; zeros and subnormals included) is stored as 0. Every feedback
// path and decaying state passes it through this, so a tail ends at true zero
// within its decay instead of lingering at the bottom of the float range,
// where arithmetic is slow on many processors. Far above the subnormals, sums
// and differences of kept values stay normal too.
inline constexpr std::uint32_t kExponentBits = 0x7f800000u;
inline constexpr std::uint32_t kSmallestKeptExponent = 27u << 23; // the exponent bits of 2^-100

inline float flushDenormal(float x) {
    return (std::bit_cast<std::uint32_t>(x) & kExponentBits) >= kSmallestKeptExponent ? x : 0.0f;
}

inline double flushDenormal(double x) {
    constexpr std::uint64_t kBits = 0x7ff0000000000000ull, kSmallest = 923ull << 52; // 2^-100
    return (std::bit_cast<std::uint64_t>(x) & kBits) >= kSmallest ? x : 0.0;
}

// The same rule over a whole buffer, in place.
inline void flushDenormals(float* buffer, int n) {
    for (int i = 0; i < n; ++i) buffer[i] = flushDenormal(buffer[i]);
}

// Flush-to-zero and denormals-are-zero while it lives, the caller's mode back
// when it goes: no operation of a render call takes a processor's slow path
// for subnormal operands or results.
class DenormalGuard {
public:
#if defined(__SSE__)
    DenormalGuard() noexcept : saved(_mm_getcsr()) { _mm_setcsr(saved | kFlushToZero | kDenormalsAreZero); }
    ~DenormalGuard() { _mm_setcsr(saved); }

private:
    static constexpr unsigned kFlushToZero = 0x8000u, kDenormalsAreZero = 0x0040u;
    const unsigned saved;
#else
    DenormalGuard() noexcept = default;
#endif

public:
    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;
};
