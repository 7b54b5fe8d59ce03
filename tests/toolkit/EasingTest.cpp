#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "Orvo_Halden_Extension/Animator.h"

namespace {

using E = EnumEasing;

constexpr std::int64_t kCurveCount = 41;

E easing(std::int64_t raw) { return static_cast<E>(raw); }

float curve(E type, std::int64_t t, float b, float c, std::int64_t d) {
    return Animator::curveFor(type)(t, b, c, d);
}

std::vector<float> run(E type, std::int64_t frames, float b = 0.0f, float c = 1.0f) {
    std::vector<float> values;
    for (std::int64_t t = 0; t <= frames; ++t) values.push_back(curve(type, t, b, c, frames));
    return values;
}

// Raw value of the In curve of a family; Out, InOut and OutIn follow it.
std::int64_t family(E in) { return static_cast<std::int64_t>(in); }

const std::vector<E> kFamilies = {E::EASING_easeInQuad,  E::EASING_easeInCubic,   E::EASING_easeInQuart,
                                  E::EASING_easeInQuint, E::EASING_easeInSine,    E::EASING_easeInExpo,
                                  E::EASING_easeInCirc,  E::EASING_easeInElastic, E::EASING_easeInBack,
                                  E::EASING_easeInBounce};

} // namespace

TEST(EnumEasing, RawValuesCoverTheCurvesAndTheEndMarker) {
    for (std::int64_t raw = 0; raw <= 41; ++raw) {
        ASSERT_TRUE(easingFromRawValue(raw).has_value()) << raw;
        EXPECT_EQ(static_cast<std::int64_t>(*easingFromRawValue(raw)), raw);
    }
    EXPECT_EQ(easingFromRawValue(41), E::EASING_easeLast);
    EXPECT_FALSE(easingFromRawValue(42).has_value());
    EXPECT_FALSE(easingFromRawValue(-1).has_value());
    EXPECT_EQ(Animator::curveFor(E::EASING_easeLast), Animator::curveFor(E::EASING_easeNone));
    EXPECT_FLOAT_EQ(curve(E::EASING_easeLast, 3, 1.0f, 8.0f, 4), 7.0f);
    EXPECT_EQ(Animator::curveFor(E::EASING_easeInElastic), &Animator::easeInElastic);
    EXPECT_EQ(Animator::curveFor(E::EASING_easeOutInBack), &Animator::easeOutInBack);
}

TEST(Easing, EveryCurveRunsFromSourceToDestinationBothWays) {
    for (std::int64_t raw = 0; raw < kCurveCount; ++raw) {
        for (std::int64_t d : {2, 5, 10, 100, 320}) {
            for (float c : {2.5f, -7.0f}) {
                SCOPED_TRACE("curve " + std::to_string(raw) + " frames " + std::to_string(d));
                EXPECT_NEAR(curve(easing(raw), 0, 3.0f, c, d), 3.0f, 1e-5f);
                EXPECT_NEAR(curve(easing(raw), d, 3.0f, c, d), 3.0f + c, 1e-5f);
                // A negative amount mirrors the curve around its source.
                for (std::int64_t t = 1; t < d; ++t) {
                    EXPECT_NEAR(curve(easing(raw), t, 3.0f, -c, d) - 3.0f,
                                -(curve(easing(raw), t, 3.0f, c, d) - 3.0f), 1e-5f);
                }
            }
        }
    }
}

TEST(Easing, ExponentialAndElasticEndsAreExact) {
    const float b = 0.1f, c = 0.7f;
    for (std::int64_t raw = family(E::EASING_easeInExpo); raw < family(E::EASING_easeInExpo) + 3; ++raw) {
        EXPECT_EQ(curve(easing(raw), 0, b, c, 9), b);
        EXPECT_EQ(curve(easing(raw), 9, b, c, 9), b + c);
    }
    for (std::int64_t raw = family(E::EASING_easeInElastic); raw < family(E::EASING_easeInElastic) + 3;
         ++raw) {
        EXPECT_EQ(curve(easing(raw), 0, b, c, 9), b);
        EXPECT_EQ(curve(easing(raw), 9, b, c, 9), b + c);
    }
}

TEST(Easing, TextbookValuesAtHalfway) {
    struct Case {
        E type;
        float expected;
    };
    const Case cases[] = {
        {E::EASING_easeInQuad, 0.25f},         {E::EASING_easeOutQuad, 0.75f},
        {E::EASING_easeInCubic, 0.125f},       {E::EASING_easeOutCubic, 0.875f},
        {E::EASING_easeInQuart, 0.0625f},      {E::EASING_easeOutQuart, 0.9375f},
        {E::EASING_easeInQuint, 0.03125f},     {E::EASING_easeOutQuint, 0.96875f},
        {E::EASING_easeInSine, 0.29289322f},   {E::EASING_easeOutSine, 0.70710678f},
        {E::EASING_easeInExpo, 0.03125f},      {E::EASING_easeOutExpo, 0.96875f},
        {E::EASING_easeInCirc, 0.1339746f},    {E::EASING_easeOutCirc, 0.8660254f},
        {E::EASING_easeInElastic, -0.015625f}, {E::EASING_easeOutElastic, 1.015625f},
        {E::EASING_easeInBack, -0.0876975f},   {E::EASING_easeOutBack, 1.0876975f},
        {E::EASING_easeOutBounce, 0.765625f},  {E::EASING_easeInBounce, 0.234375f},
    };
    for (const Case& k : cases) {
        EXPECT_NEAR(curve(k.type, 5, 0.0f, 1.0f, 10), k.expected, 2e-6f) << static_cast<int>(k.type);
    }
    EXPECT_FLOAT_EQ(curve(E::EASING_easeNone, 1, 0.0f, 1.0f, 4), 0.25f);
}

TEST(Easing, SymmetricInOutCurvesPassThroughTheMiddle) {
    for (E in : {E::EASING_easeInQuad, E::EASING_easeInCubic, E::EASING_easeInQuart, E::EASING_easeInQuint,
                 E::EASING_easeInSine, E::EASING_easeInExpo, E::EASING_easeInCirc, E::EASING_easeInBack}) {
        const E inOut = easing(family(in) + 2);
        EXPECT_NEAR(curve(inOut, 50, 1.0f, 4.0f, 100), 3.0f, 1e-5f) << family(in);
        // Either side of the middle lies on its own side of it.
        EXPECT_LT(curve(inOut, 49, 1.0f, 4.0f, 100), 3.0f);
        EXPECT_GT(curve(inOut, 51, 1.0f, 4.0f, 100), 3.0f);
    }
}

TEST(Easing, SmoothFamiliesNeverTurnBack) {
    const std::vector<E> monotone = {E::EASING_easeInQuad,  E::EASING_easeInCubic, E::EASING_easeInQuart,
                                     E::EASING_easeInQuint, E::EASING_easeInSine,  E::EASING_easeInExpo,
                                     E::EASING_easeInCirc};
    for (E in : monotone) {
        for (std::int64_t variant = 0; variant < 4; ++variant) {
            for (std::int64_t d : {7, 100}) {
                const std::vector<float> values = run(easing(family(in) + variant), d);
                EXPECT_TRUE(std::is_sorted(values.begin(), values.end()))
                    << family(in) + variant << " / " << d;
            }
        }
    }
}

TEST(Easing, BackDipsBeforeItRisesAndOvershootsBeforeItSettles) {
    const auto extreme = [](E type, bool lowest) {
        const std::vector<float> v = run(type, 1000);
        const auto it = lowest ? std::min_element(v.begin(), v.end()) : std::max_element(v.begin(), v.end());
        return std::pair{*it, static_cast<float>(it - v.begin()) / 1000.0f};
    };
    const auto [dip, dipAt] = extreme(E::EASING_easeInBack, true);
    EXPECT_NEAR(dip, -0.1f, 0.002f);
    EXPECT_NEAR(dipAt, 0.42f, 0.01f);
    const auto [peak, peakAt] = extreme(E::EASING_easeOutBack, false);
    EXPECT_NEAR(peak, 1.1f, 0.002f);
    EXPECT_NEAR(peakAt, 0.58f, 0.01f);
    // The in-out variant dips in its first half and overshoots in its second.
    const auto [inOutDip, inOutDipAt] = extreme(E::EASING_easeInOutBack, true);
    const auto [inOutPeak, inOutPeakAt] = extreme(E::EASING_easeInOutBack, false);
    EXPECT_LT(inOutDip, 0.0f);
    EXPECT_LT(inOutDipAt, 0.5f);
    EXPECT_GT(inOutPeak, 1.0f);
    EXPECT_GT(inOutPeakAt, 0.5f);
}

TEST(Easing, BounceTouchesTheDestinationAtTheEndOfEachArc) {
    // With 44 frames the arcs end on frames 16, 32, 40 and 44 and bottom out on 24, 36 and 42.
    const std::vector<float> out = run(E::EASING_easeOutBounce, 44, 0.0f, 2.0f);
    for (int end : {16, 32, 40, 44}) EXPECT_NEAR(out[end], 2.0f, 1e-5f) << end;
    EXPECT_NEAR(out[24], 1.5f, 1e-5f);
    EXPECT_NEAR(out[36], 1.875f, 1e-5f);
    EXPECT_NEAR(out[42], 1.96875f, 1e-5f);
    for (float v : out) EXPECT_LE(v, 2.0f + 1e-5f);
    const std::vector<float> in = run(E::EASING_easeInBounce, 44, 0.0f, 2.0f);
    for (int t = 0; t <= 44; ++t) EXPECT_NEAR(in[t], 2.0f - out[44 - t], 1e-5f);
}

TEST(Easing, ElasticCurvesSwingPastTheirPath) {
    const std::vector<float> in = run(E::EASING_easeInElastic, 200);
    const std::vector<float> out = run(E::EASING_easeOutElastic, 200);
    EXPECT_LT(*std::min_element(in.begin(), in.end()), -0.01f);
    EXPECT_GT(*std::max_element(out.begin(), out.end()), 1.01f);
}

TEST(Easing, OutInCurvesTurnAtTheIntegerMiddle) {
    for (E in : kFamilies) {
        const E outIn = easing(family(in) + 3);
        // 5 frames: frame 2 already belongs to the second half, which starts exactly at the middle value.
        EXPECT_NEAR(curve(outIn, 2, 1.0f, 4.0f, 5), 3.0f, 1e-5f) << family(in);
        EXPECT_NEAR(curve(outIn, 1, 1.0f, 4.0f, 5), curve(easing(family(in) + 1), 2, 1.0f, 2.0f, 5), 1e-6f);
        // A single frame is all second half and lands on the destination.
        EXPECT_NEAR(curve(outIn, 1, 1.0f, 4.0f, 1), 5.0f, 1e-5f) << family(in);
    }
    // The in-out bounce halves at 2.5, so with 5 frames frame 2 is still in its first half.
    EXPECT_NEAR(curve(E::EASING_easeInOutBounce, 2, 0.0f, 1.0f, 5), 0.34875f, 1e-6f);
}
