#pragma once

#include <atomic>
#include <cstddef>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>

#include "dsp/Denormal.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

inline float getAbsVal(float x) { return std::fabs(x); }

// Four floats side by side; the compiler maps them onto whatever vector unit
// there is, and every lane does exactly the arithmetic of one float. Lanes are
// read and written by value, never through a reference to one of them, which
// not every compiler allows.
namespace VectorMath {

using Lanes = float __attribute__((vector_size(16)));
using Mask = std::int32_t __attribute__((vector_size(16)));

inline constexpr float kPi = std::numbers::pi_v<float>;
inline constexpr float kTwoPi = 2.0f * kPi;
inline constexpr std::int32_t kSignBit = std::numeric_limits<std::int32_t>::min();

inline Lanes load(const float* p) {
    Lanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store(float* p, Lanes v) { std::memcpy(p, &v, sizeof v); }

inline Lanes splat(float x) { return Lanes{x, x, x, x}; }

inline Lanes reversed(Lanes v) { return __builtin_shufflevector(v, v, 3, 2, 1, 0); }

// Four complex values from interleaved floats, as real and imaginary lanes.
inline void loadInterleaved(const float* p, Lanes& re, Lanes& im) {
    const Lanes a = load(p), b = load(p + 4);
    re = __builtin_shufflevector(a, b, 0, 2, 4, 6);
    im = __builtin_shufflevector(a, b, 1, 3, 5, 7);
}

inline void storeInterleaved(float* p, Lanes re, Lanes im) {
    store(p, __builtin_shufflevector(re, im, 0, 4, 1, 5));
    store(p + 4, __builtin_shufflevector(re, im, 2, 6, 3, 7));
}

// f applied to every lane on its own, the scalar way.
template <class F> Lanes eachLane(Lanes v, F f) {
    float x[4];
    store(x, v);
    for (float& e : x) e = f(e);
    return load(x);
}

inline Mask bitsOf(Lanes v) {
    Mask m;
    std::memcpy(&m, &v, sizeof m);
    return m;
}

inline Lanes fromBits(Mask m) {
    Lanes v;
    std::memcpy(&v, &m, sizeof v);
    return v;
}

inline Lanes select(Mask m, Lanes a, Lanes b) { return fromBits((bitsOf(a) & m) | (bitsOf(b) & ~m)); }

inline bool allOf(Mask m) { return (m[0] & m[1] & m[2] & m[3]) != 0; }

inline Lanes absLanes(Lanes v) { return fromBits(bitsOf(v) & ~kSignBit); }

// The lanes flushDenormal keeps, by the same exponent test.
inline constexpr std::int32_t kExponentLanes = static_cast<std::int32_t>(kExponentBits);
inline constexpr std::int32_t kBelowKept = static_cast<std::int32_t>(kSmallestKeptExponent) - 1;
inline Mask keptByFlush(Lanes v) { return (bitsOf(v) & kExponentLanes) > kBelowKept; }

// The lanes of v in keep; the others become +0.
inline Lanes keepOnly(Lanes v, Mask keep) { return fromBits(bitsOf(v) & keep); }

// flushDenormal on every lane: the lanes it does not keep become +0.
inline Lanes flush(Lanes v) { return keepOnly(v, keptByFlush(v)); }

// Rows become columns: v[c] lane j goes to v[j] lane c.
inline void transpose(Lanes* v) {
    const Lanes t0 = __builtin_shufflevector(v[0], v[1], 0, 4, 1, 5);
    const Lanes t1 = __builtin_shufflevector(v[0], v[1], 2, 6, 3, 7);
    const Lanes t2 = __builtin_shufflevector(v[2], v[3], 0, 4, 1, 5);
    const Lanes t3 = __builtin_shufflevector(v[2], v[3], 2, 6, 3, 7);
    v[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
    v[1] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
    v[2] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
    v[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

inline Lanes sqrtLanes(Lanes x) {
#if defined(__SSE__)
    return _mm_sqrt_ps(x);
#else
    for (int i = 0; i < 4; ++i) x[i] = std::sqrt(x[i]);
    return x;
#endif
}

// c[0] x^(N-1) + ... + c[N-1] by Horner's rule, highest power first.
template <std::size_t N> inline Lanes horner(Lanes x, const float (&c)[N]) {
    Lanes p = splat(c[0]);
    for (std::size_t i = 1; i < N; ++i) p = p * x + c[i];
    return p;
}

// atan(num / den) for 0 <= num <= den: above tan(pi/12) it is pi/6 plus the
// atan of a ratio below tan(pi/12), where seven odd terms of the series are
// exact to float. Either ratio costs one division; 0 when den is 0.
inline Lanes atanOfRatio(Lanes num, Lanes den) {
    constexpr float kSqrt3 = std::numbers::sqrt3_v<float>;
    const Mask far = num > 0.26794919f * den;
    const Lanes ratio = select(far, kSqrt3 * num - den, num) / select(far, kSqrt3 * den + num, den);
    const Lanes z = select(den > splat(0.0f), ratio, splat(0.0f));
    const Lanes p = horner(z * z, {1.0f / 13.0f, -1.0f / 11.0f, 1.0f / 9.0f, -1.0f / 7.0f, 1.0f / 5.0f,
                                   -1.0f / 3.0f, 1.0f});
    return select(far, z * p + kPi / 6.0f, z * p);
}

// atan2 with the library's quadrants and signed zeros.
inline Lanes atan2Lanes(Lanes y, Lanes x) {
    const Lanes ax = absLanes(x);
    const Lanes ay = absLanes(y);
    const Mask steep = ay > ax;
    const Lanes num = select(steep, ax, ay);
    const Lanes den = select(steep, ay, ax);
    Lanes r = atanOfRatio(num, den);
    r = select(steep, kPi / 2.0f - r, r);
    r = select((bitsOf(x) & kSignBit) != 0, kPi - r, r);
    return fromBits(bitsOf(r) | (bitsOf(y) & kSignBit));
}

// sin and cos of phases in [-pi, pi]: folded into [-pi/2, pi/2], where the
// series to x^13 and x^12 are exact to float.
inline void sinCosLanes(Lanes x, Lanes& sine, Lanes& cosine) {
    constexpr float kHalfPi = kPi / 2.0f;
    const Mask high = x > splat(kHalfPi);
    const Mask low = x < splat(-kHalfPi);
    x = select(high, kPi - x, select(low, -kPi - x, x));
    const Lanes x2 = x * x;
    const Lanes s = horner(x2, {1.0f / 6227020800.0f, -1.0f / 39916800.0f, 1.0f / 362880.0f, -1.0f / 5040.0f,
                                1.0f / 120.0f, -1.0f / 6.0f, 1.0f});
    const Lanes c = horner(x2, {1.0f / 479001600.0f, -1.0f / 3628800.0f, 1.0f / 40320.0f, -1.0f / 720.0f,
                                1.0f / 24.0f, -0.5f, 1.0f});
    sine = x * s;
    cosine = select(high | low, -c, c);
}

// Some passes also run eight lanes wide where the processor has AVX2, with
// the same arithmetic per lane, so the output is the same bit for bit. The
// baseline build stays SSE2: the wide code carries the AVX2 target itself
// and is chosen at run time. Tests force either width; eight is honoured
// only where the processor has it.
enum class LaneWidth { Automatic, Four, Eight };

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define ORVO_EIGHT_LANES 1

// Every function that touches eight lanes carries the target, so nothing wide
// leaks into code that may run on a processor without it.
#define ORVO_WIDE [[gnu::always_inline, gnu::target("avx2")]] inline

using Lanes8 = float __attribute__((vector_size(32)));
using Mask8 = std::int32_t __attribute__((vector_size(32)));

ORVO_WIDE Lanes8 load8(const float* p) {
    Lanes8 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

ORVO_WIDE void store8(float* p, Lanes8 v) { std::memcpy(p, &v, sizeof v); }

ORVO_WIDE Lanes8 splat8(float x) { return Lanes8{x, x, x, x, x, x, x, x}; }

// keptByFlush, keepOnly and flush on eight lanes.
ORVO_WIDE Mask8 keptByFlush8(Lanes8 v) {
    Mask8 bits;
    std::memcpy(&bits, &v, sizeof bits);
    return (bits & kExponentLanes) > kBelowKept;
}

ORVO_WIDE Lanes8 keepOnly8(Lanes8 v, Mask8 keep) {
    Mask8 bits;
    std::memcpy(&bits, &v, sizeof bits);
    bits &= keep;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

ORVO_WIDE Lanes8 flush8(Lanes8 v) { return keepOnly8(v, keptByFlush8(v)); }

inline bool canRunEightLanes() noexcept {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}
#else
#define ORVO_EIGHT_LANES 0
inline bool canRunEightLanes() noexcept { return false; }
#endif

// The width forced, or Automatic.
inline std::atomic<LaneWidth> forcedLaneWidth{LaneWidth::Automatic};

inline void forceLaneWidth(LaneWidth width) noexcept {
    forcedLaneWidth.store(width, std::memory_order_relaxed);
}

// Whether the eight-lane paths run now.
inline bool eightLanes() noexcept {
    const LaneWidth forced = forcedLaneWidth.load(std::memory_order_relaxed);
    return canRunEightLanes() && forced != LaneWidth::Four;
}

} // namespace VectorMath
