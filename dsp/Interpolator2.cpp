#include "dsp/Interpolator2.h"

#include <cmath>

#include "dsp/Denormal.h"

void Interpolator2::setInitialValue(float v) noexcept {
    if (!std::isfinite(v)) return;
    currentValue = v;
    destinationValue = v;
}

void Interpolator2::setDestinationValue(float v, long rampTime) noexcept {
    // A NaN target would never compare equal and would poison the ramp forever.
    if (!std::isfinite(v) || v == destinationValue) return;
    time = rampTime < 1 ? 1 : rampTime;
    destinationValue = v;
    increase = v - currentValue;
    if (std::fabs(increase) < 0.0001f) {
        currentValue = v;
        increase = 0.0f;
    } else {
        increase = increase / static_cast<float>(time);
    }
    increase = flushDenormal(increase);
}
