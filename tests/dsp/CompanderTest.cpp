#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "dsp/Compander.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/Signals.h"
#include "tests/support/FrequencyMeasures.h"
#include "tests/support/Subnormals.h"

namespace {

void feed(Follower& f, float value, int times) {
    for (int i = 0; i < times; ++i) f.processSample(&value);
}

// A follower whose peak sits at exactly 1 after 16 samples of full scale.
Follower fastFollower(float holdSeconds, float releaseSeconds) {
    Follower f;
    f.setAttack(0.0f);
    f.setDecay(holdSeconds);
    f.setRelease(releaseSeconds);
    return f;
}

struct Stereo {
    std::vector<float> l, r;
    Stereo(std::size_t n, float lv, float rv) : l(n, lv), r(n, rv) {}
    long size() const { return static_cast<long>(l.size()); }
};

} // namespace

TEST(Follower, AttackRisesLinearlyAndSettlesAroundTheInput) {
    Follower f;
    EXPECT_EQ(f.attackTime, 480.0f);
    for (int k = 1; k <= 240; ++k) {
        feed(f, 0.5f, 1);
        ASSERT_NEAR(f.currentPeak, k / 480.0, 1e-12) << k;
    }
    // Afterwards it hovers within one rise above and one fall below the input.
    for (int k = 0; k < 5000; ++k) {
        feed(f, 0.5f, 1);
        ASSERT_LT(f.currentPeak, 0.5 + 1.0 / 480.0 + 1e-12);
        ASSERT_GT(f.currentPeak, 0.5 - 1.0 / 24000.0 - 1e-12);
    }
}

TEST(Follower, HoldsThenReleasesLinearlyToExactZero) {
    Follower f = fastFollower(0.001f, 0.0f); // hold 48 samples, fall 1/16 per sample
    feed(f, 1.0f, 16);
    EXPECT_EQ(f.getPeak(), 1.0f);
    feed(f, 1.0f, 10);
    EXPECT_EQ(f.getPeak(), 1.0f);

    feed(f, 0.0f, 48);
    EXPECT_EQ(f.getPeak(), 1.0f);
    for (int k = 1; k <= 16; ++k) {
        feed(f, 0.0f, 1);
        ASSERT_EQ(f.getPeak(), 1.0f - static_cast<float>(k) / 16.0f) << k;
    }
    feed(f, 0.0f, 100);
    EXPECT_EQ(f.currentPeak, 0.0);
    EXPECT_EQ(f.getPeakInverted(), 1.0f);
}

TEST(Follower, NewPeakReloadsTheHold) {
    Follower f = fastFollower(0.001f, 0.0f);
    feed(f, 1.0f, 16);
    feed(f, 0.0f, 40);
    feed(f, 2.0f, 1); // rises once more and restarts the 48-sample hold
    const float held = f.getPeak();
    EXPECT_EQ(held, 1.0625f);
    feed(f, 0.0f, 48);
    EXPECT_EQ(f.getPeak(), held);
    feed(f, 0.0f, 1);
    EXPECT_LT(f.getPeak(), held);
}

TEST(Follower, SettersIgnoreOutOfRangeAndRateRestoresDefaults) {
    Follower f;
    f.setAttack(0.0f);
    EXPECT_EQ(f.attackTime, 16.0f);
    EXPECT_EQ(f.increase, 0.0625);
    f.setAttack(2.0f);
    f.setAttack(std::numeric_limits<float>::quiet_NaN());
    f.setRelease(10.5f);
    f.setRelease(-1.0f);
    f.setDecay(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(f.fAttack, 0.0f);
    EXPECT_EQ(f.attackTime, 16.0f);
    EXPECT_EQ(f.fRelease, 0.5f);
    EXPECT_EQ(f.fDecay, 0.0001f);

    f.setRelease(10.0f);
    f.setDecay(1.0f);
    EXPECT_EQ(f.releaseTime, 480000.0f);
    EXPECT_EQ(f.decayTime, 48000);

    f.setSamplerate(96000.0f);
    EXPECT_EQ(f.fAttack, 0.01f);
    EXPECT_EQ(f.attackTime, 960.0f);
    EXPECT_EQ(f.releaseTime, 48000.0f);
    EXPECT_EQ(f.decayTime, 9);

    f.setSamplerate(std::numeric_limits<float>::quiet_NaN());
    f.setSamplerate(std::numeric_limits<float>::infinity());
    f.setSamplerate(0.0f);
    EXPECT_EQ(f.fSamplerate, 96000.0f);
}

namespace {

// Full-scale input into a compander whose input follower rises 1/16 per frame.
Compander fastCompander(float multiplier) {
    Compander c;
    c.inputFollower.setAttack(0.0f);
    c.setMultiplier(multiplier);
    return c;
}

} // namespace

TEST(Compander, GainBelowFullScaleFollowsTheMultiplier) {
    // L + R = 1: the peak climbs 1/16, 2/16, ... and reaches full scale on frame 16.
    const float expectedFirst[] = {0.96875f, 0.5f, 0.03125f}; // gains 1.9375, 1, 0.0625
    const float multipliers[] = {1.0f, 0.0f, -1.0f};
    for (int m = 0; m < 3; ++m) {
        Compander c = fastCompander(multipliers[m]);
        Stereo s(20, 0.5f, 0.5f);
        c.processBuffers(s.l.data(), s.r.data(), s.size());
        EXPECT_FLOAT_EQ(s.l[0], expectedFirst[m]) << multipliers[m];
        EXPECT_FLOAT_EQ(s.r[0], expectedFirst[m]) << multipliers[m];
        EXPECT_EQ(s.l[15], 0.5f) << multipliers[m];
        EXPECT_EQ(s.l[19], 0.5f) << multipliers[m];
        EXPECT_EQ(c.factor, 1.0f);
    }
}

TEST(Compander, SilenceGainIsTwiceWithMultiplierOne) {
    Compander c;
    Stereo s(64, 0.0f, 0.0f);
    c.processBuffers(s.l.data(), s.r.data(), s.size());
    EXPECT_EQ(c.factor, 2.0f);

    // A quiet signal comes out at very nearly twice its level.
    Stereo quiet(4800, 1e-4f, -5e-5f);
    c.processBuffers(quiet.l.data(), quiet.r.data(), quiet.size());
    EXPECT_NEAR(quiet.l.back(), 2e-4f, 1e-6f);
    EXPECT_NEAR(quiet.r.back(), -1e-4f, 1e-6f);
}

TEST(Compander, LimitsAboveFullScale) {
    Compander c = fastCompander(1.0f);
    Stereo s(64, 1.0f, 1.0f); // sum 2: the peak climbs to 2 over 32 frames
    c.processBuffers(s.l.data(), s.r.data(), s.size());
    EXPECT_EQ(s.l[16], 1.0f / 1.0625f);
    EXPECT_EQ(s.l[31], 0.5f);
    EXPECT_EQ(s.l[63], 0.5f);
    EXPECT_EQ(s.r[63], 0.5f);
    EXPECT_EQ(c.factor, 0.5f);
}

TEST(Compander, InvertedOutputIsWhatTheGainRemoved) {
    for (float m : {1.0f, 0.0f, -1.0f}) {
        Compander plain = fastCompander(m);
        Compander inverted = fastCompander(m);
        inverted.setInverted(true);
        const std::vector<float> inL = testkit::noise(4096, 11, 1.5f);
        const std::vector<float> inR = testkit::noise(4096, 12, 0.2f);
        std::vector<float> pl = inL, pr = inR, il = inL, ir = inR;
        plain.processBuffers(pl.data(), pr.data(), 4096);
        inverted.processBuffers(il.data(), ir.data(), 4096);
        for (std::size_t i = 0; i < inL.size(); ++i) {
            ASSERT_NEAR(pl[i] + il[i], inL[i], 1e-6f) << m << " at " << i;
            ASSERT_NEAR(pr[i] + ir[i], inR[i], 1e-6f) << m << " at " << i;
        }
        // The output meter reads the scaled pair in both modes.
        EXPECT_EQ(plain.outputFollower.currentPeak, inverted.outputFollower.currentPeak) << m;
    }
}

TEST(Compander, MultiplierLimitsAndReset) {
    Compander c;
    c.setMultiplier(-5.0f);
    EXPECT_EQ(c.fMultiplier, -1.0f);
    c.setMultiplier(3.0f);
    c.setMultiplier(std::numeric_limits<float>::quiet_NaN());
    c.setMultiplier(std::numeric_limits<float>::infinity());
    EXPECT_EQ(c.fMultiplier, 3.0f);
    c.setMultiplier(-std::numeric_limits<float>::infinity());
    EXPECT_EQ(c.fMultiplier, -1.0f);

    Stereo s(256, 0.3f, 0.3f);
    c.processBuffers(s.l.data(), s.r.data(), s.size());
    EXPECT_GT(c.inputFollower.getPeak(), 0.0f);
    EXPECT_GT(c.outputFollower.getPeak(), 0.0f);
    c.reset();
    EXPECT_EQ(c.inputFollower.currentPeak, 0.0);
    EXPECT_EQ(c.outputFollower.currentPeak, 0.0);
    EXPECT_EQ(c.factor, 1.0f);

    c.setSamplerate(44100.0f);
    EXPECT_EQ(c.inputFollower.attackTime, 441.0f);
    EXPECT_EQ(c.outputFollower.releaseTime, 22050.0f);
}

TEST(Compander, LongSilenceGivesExactZerosAndDoesNotAllocate) {
    Compander c;
    std::vector<float> l = testkit::noise(48000, 5, 0.8f);
    std::vector<float> r = testkit::noise(48000, 6, 0.8f);
    std::vector<float> zl(96000, 0.0f), zr(96000, 0.0f);

    testkit::AllocationCounter counter;
    c.processBuffers(l.data(), r.data(), 48000);
    c.processBuffers(zl.data(), zr.data(), 96000);
    const std::size_t allocations = counter.count();
    EXPECT_EQ(allocations, 0u);

    EXPECT_EQ(c.inputFollower.currentPeak, 0.0);
    EXPECT_EQ(c.outputFollower.currentPeak, 0.0);
    EXPECT_EQ(testkit::countSubnormals(zl.data(), zl.size()), 0u);
    EXPECT_EQ(testkit::peakAbs(zl.data(), zl.size()), 0.0f);
}
