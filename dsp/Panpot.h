#pragma once

#include <cstdint>

#include "dsp/Interpolator2.h"
#include "dsp/VectorMath.h"

// Moves a stereo image left or right by folding one channel into the other.
// The channel the image moves toward keeps the other's content at up to 40 %
// less level; the channel it moves away from fades linearly to silence.
class Panpot {
public:
    Panpot();

    // `smoothed` nonzero reads the pan through the ramp once per sample.
    void setValue(float pan, long smoothed) noexcept;
    // Ignored unless -1 <= pan <= 1 (NaN included); no ramp, the pan jumps.
    void setInitialValue(float pan) noexcept;
    void reset() noexcept { setInitialValue(0.0f); }

    void processBuffer(float* left, float* right, long n) noexcept;

    std::uint64_t lUpdaterate = 16;
    Interpolator2 interp;
    float fPan = 0.0f;
    std::int64_t lSmoothed = 0;

private:
    void processBuffer_smoothed(float* left, float* right, long n) noexcept;
    void processBuffer_unsmoothed(float* left, float* right, long n) noexcept;
};

// Narrows the image toward mono (adjust < 0) or widens it by the side signal
// (adjust > 0); the mid signal L + R is kept either way.
class StereoProcessor {
public:
    StereoProcessor() = default;
    virtual ~StereoProcessor() = default;
    StereoProcessor(const StereoProcessor&) = default;
    StereoProcessor& operator=(const StereoProcessor&) = default;

    // Clamped to -1..1; a NaN keeps the old value.
    void setValue(float adjust) noexcept;
    void reset() noexcept {
        fAdjust = 0.0f;
        lUpdaterate = 16;
    }

    void processBufferInpalce(float* left, float* right, long n) noexcept;

    static float getAbsVal(float x) noexcept { return ::getAbsVal(x); }

    std::uint64_t lUpdaterate = 16;
    float fAdjust = 0.0f;
};
