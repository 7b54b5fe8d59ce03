#pragma once

#include <cstdint>

// Linear ramp of a control value, advanced once per getValue() call.
class Interpolator2 {
public:
    Interpolator2() { setInitialValue(0.5f); }

    // Current and destination jump to v; a non-finite v is ignored.
    void setInitialValue(float v) noexcept;

    // Ramp toward v over `time` calls (at least 1); a non-finite v is ignored.
    void setDestinationValue(float v, long time) noexcept;

    float getValue() {
        if (delay >= 1) {
            --delay;
            return currentValue;
        }
        if (increase != 0.0f) {
            currentValue += increase;
            if ((increase < 0.0f && currentValue <= destinationValue) ||
                (increase > 0.0f && currentValue >= destinationValue)) {
                currentValue = destinationValue;
                increase = 0.0f;
            }
        }
        return currentValue;
    }

    float destinationValue = 0.5f;
    float currentValue = 0.5f;
    float increase = 0.0f;
    std::int64_t time = 1024;
    std::int64_t delay = 0;
};
