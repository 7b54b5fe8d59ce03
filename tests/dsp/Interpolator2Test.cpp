#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "dsp/Interpolator2.h"

TEST(Interpolator2, RampReachesDestinationExactlyOnLastStep) {
    Interpolator2 ramp;
    ramp.setDestinationValue(1.0f, 4);
    EXPECT_FLOAT_EQ(ramp.getValue(), 0.625f);
    EXPECT_FLOAT_EQ(ramp.getValue(), 0.75f);
    EXPECT_FLOAT_EQ(ramp.getValue(), 0.875f);
    EXPECT_EQ(ramp.getValue(), 1.0f);
    EXPECT_EQ(ramp.getValue(), 1.0f);
}

TEST(Interpolator2, TinyStepsJumpAndShortTimesCountAsOne) {
    Interpolator2 ramp;
    ramp.setDestinationValue(0.50005f, 100);
    EXPECT_EQ(ramp.currentValue, 0.50005f);
    EXPECT_EQ(ramp.increase, 0.0f);

    ramp.setDestinationValue(0.0f, 0);
    EXPECT_EQ(ramp.time, 1);
    EXPECT_EQ(ramp.getValue(), 0.0f);

    ramp.setDestinationValue(1.0f, -5);
    EXPECT_EQ(ramp.getValue(), 1.0f);
}

TEST(Interpolator2, MovingDownStopsAtTarget) {
    Interpolator2 ramp;
    ramp.setInitialValue(1.0f);
    ramp.setDestinationValue(0.0f, 3);
    float last = 1.0f;
    for (int i = 0; i < 10; ++i) last = ramp.getValue();
    EXPECT_EQ(last, 0.0f);
}

TEST(Interpolator2, NonFiniteTargetsAreIgnored) {
    Interpolator2 ramp;
    ramp.setDestinationValue(std::numeric_limits<float>::quiet_NaN(), 4);
    ramp.setDestinationValue(std::numeric_limits<float>::infinity(), 4);
    ramp.setInitialValue(-std::numeric_limits<float>::infinity());
    EXPECT_EQ(ramp.getValue(), 0.5f);
    ramp.setDestinationValue(0.0f, 2);
    ramp.getValue();
    EXPECT_EQ(ramp.getValue(), 0.0f);
}
