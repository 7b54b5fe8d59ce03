#include "dsp/Panpot.h"

#include <algorithm>
#include <cmath>

namespace {

// One frame of the pan law, toward the left (p < 0) or the right (p > 0).
inline void panLeft(float p, float& l, float& r) {
    l = (l + r * -p) * (1.0f + 0.4f * p);
    r = r * (1.0f + p);
}

inline void panRight(float p, float& l, float& r) {
    r = (r + l * p) * (1.0f - 0.4f * p);
    l = l * (1.0f - p);
}

// p == 0 leaves the frame untouched.
inline void panFrame(float p, float& l, float& r) {
    if (p < 0.0f)
        panLeft(p, l, r);
    else if (p > 0.0f)
        panRight(p, l, r);
}

} // namespace

Panpot::Panpot() { setInitialValue(0.0f); }

void Panpot::setValue(float pan, long smoothed) noexcept {
    lSmoothed = smoothed;
    setInitialValue(pan);
}

void Panpot::setInitialValue(float pan) noexcept {
    if (!(pan >= -1.0f && pan <= 1.0f)) return;
    fPan = pan;
    interp.setInitialValue(pan);
}

void Panpot::processBuffer(float* left, float* right, long n) noexcept {
    if (lSmoothed != 0)
        processBuffer_smoothed(left, right, n);
    else
        processBuffer_unsmoothed(left, right, n);
}

void Panpot::processBuffer_smoothed(float* left, float* right, long n) noexcept {
    for (long i = 0; i < n; ++i) panFrame(interp.getValue(), left[i], right[i]);
}

void Panpot::processBuffer_unsmoothed(float* left, float* right, long n) noexcept {
    // The direction is fixed for the block: one branch-free loop per side.
    const float p = fPan;
    if (p < 0.0f)
        for (long i = 0; i < n; ++i) panLeft(p, left[i], right[i]);
    else if (p > 0.0f)
        for (long i = 0; i < n; ++i) panRight(p, left[i], right[i]);
}

void StereoProcessor::setValue(float adjust) noexcept {
    if (std::isnan(adjust)) return;
    fAdjust = std::clamp(adjust, -1.0f, 1.0f);
}

void StereoProcessor::processBufferInpalce(float* left, float* right, long n) noexcept {
    const float a = fAdjust;
    if (a < 0.0f) {
        const float k = getAbsVal(a);
        for (long i = 0; i < n; ++i) {
            const float m = (left[i] + right[i]) * 0.5f * k;
            left[i] = m + left[i] * (1.0f - k);
            right[i] = m + right[i] * (1.0f - k);
        }
    } else if (a > 0.0f) {
        for (long i = 0; i < n; ++i) {
            const float s = (left[i] - right[i]) * 0.5f;
            left[i] = left[i] + s * a;
            right[i] = right[i] - s * a;
        }
    }
}
