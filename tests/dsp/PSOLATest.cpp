#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "dsp/PSOLA.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/Heap.h"
#include "tests/support/Signals.h"
#include "tests/support/FrequencyMeasures.h"
#include "tests/support/Subnormals.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr double kRate = 48000.0;

using PSOLA::PitchShift;
using Floats = std::vector<float>;

std::unique_ptr<PitchShift> makeShifter(float ratio = 1.0f) {
    auto shifter = testkit::makeHeap<PitchShift>(43.0f, 48000.0f);
    shifter->setShift(ratio);
    return shifter;
}

Floats process(PitchShift& shifter, Floats signal) {
    shifter.processBuffer(signal.data(), static_cast<int>(signal.size()));
    return signal;
}

double pitchAfterWarmUp(const Floats& out) {
    return testkit::peakFrequency(out.data() + 8192, out.size() - 8192, kRate);
}

std::size_t lineSubnormals(PitchShift& shifter) {
    std::size_t count = 0;
    for (auto& line : shifter.delayLine_)
        count += testkit::countSubnormals(line.buffer.getBuffer(), static_cast<std::size_t>(line.size_));
    return count;
}

Floats feed(Latency& ring, const Floats& in) {
    Floats out;
    for (float x : in) out.push_back(ring.processSampleEx(x));
    return out;
}

Floats ramp(int n, float start = 1.0f) {
    Floats v;
    for (int i = 0; i < n; ++i) v.push_back(start + static_cast<float>(i));
    return v;
}

struct CountingRing : CircularBuffer {
    void onBufferReady() override { ++turns; }
    int turns = 0;
};

} // namespace

TEST(PitchShift, WindowFollowsSampleRateAndLowestFrequencyAndNeverVanishes) {
    auto shifter = makeShifter();
    EXPECT_EQ(shifter->size, 1116);
    EXPECT_EQ(shifter->halfLength_, 558);
    EXPECT_EQ(shifter->latency.getSize(), 558);
    EXPECT_EQ(shifter->window[0], 0.0f);
    EXPECT_EQ(shifter->window[558], 1.0f);
    shifter->setSamplerate(44100.0f);
    EXPECT_EQ(shifter->size, 1025);
    EXPECT_EQ(shifter->halfLength_, 512);
    EXPECT_EQ(shifter->window[1024], 0.0f); // an odd length leaves the last element 0
    shifter->setLowestFreq(10.0f, 48000.0f);
    EXPECT_EQ(shifter->size, 2400);
    EXPECT_GE(shifter->delayLine_[1].size_, 2400);
    shifter->setSamplerate(8000.0f);
    EXPECT_EQ(shifter->size, 600);

    for (float bad : {kNaN, kInf}) shifter->setLowestFreq(bad, bad);
    EXPECT_EQ(shifter->size, 600);
    shifter->setLowestFreq(1e30f, 48000.0f);
    shifter->init(0);
    EXPECT_EQ(shifter->size, PitchShift::kMinWindow);
    const auto out = process(*shifter, testkit::noise(5000, 2, 0.5f));
    EXPECT_TRUE(testkit::allFinite(out.data(), out.size()));
    EXPECT_LE(testkit::peakAbs(out.data(), out.size()), 1.0f);
}

TEST(PitchShift, CrossfadeGainsSumToOneAtEveryRatio) {
    // A constant reads as the same constant from any delay, so the output
    // is the sum of the two window gains.
    for (float ratio : {2.0f, 0.5f, 1.5f, 0.75f, 3.0f, -1.0f, 1.0f}) {
        auto shifter = makeShifter(ratio);
        shifter->setFeedback(0.0f);
        const auto out = process(*shifter, Floats(20000, 1.0f));
        for (std::size_t i = 4096; i < out.size(); ++i)
            ASSERT_NEAR(out[i], 1.0f, 2e-5f) << ratio << " at " << i;
    }
}

TEST(PitchShift, SineComesOutAtTheRatioTimesItsFrequency) {
    const auto in = testkit::sine(440.0, kRate, 48000, 0.5f);
    for (float ratio : {2.0f, 0.5f, 1.5f}) {
        auto shifter = makeShifter(ratio);
        EXPECT_NEAR(pitchAfterWarmUp(process(*shifter, in)), 440.0 * ratio, 440.0 * ratio * 0.03) << ratio;
    }
}

TEST(PitchShift, RatioOneIsTheInputHalfAWindowLateWithItsFeedbackEcho) {
    auto shifter = makeShifter(1.0f);
    const auto out = process(*shifter, testkit::impulse(4096));
    for (std::size_t i = 0; i < out.size(); ++i) {
        const float expected = i == 558 ? 1.0f : (i == 558 + 2048 ? 0.1f : 0.0f);
        ASSERT_NEAR(out[i], expected, 1e-4f * expected + 1e-6f) << "at " << i;
    }
}

TEST(PitchShift, BadRatiosNeitherHangNorLeaveTheSweep) {
    auto shifter = makeShifter(2.0f);
    for (float bad : {kNaN, kInf, -kInf}) shifter->setShift(bad);
    EXPECT_EQ(shifter->rate_.load(), -1.0f);

    const auto in = testkit::sine(440.0, kRate, 10000, 0.5f);
    for (float huge : {1e30f, -1e30f, 5000.0f, -3e7f}) {
        shifter->setShift(huge);
        const auto out = process(*shifter, in);
        EXPECT_TRUE(testkit::allFinite(out.data(), out.size())) << huge;
        for (float d : shifter->delay_) EXPECT_TRUE(d >= 0.0f && d <= 1116.0f) << d;
    }
}

TEST(PitchShift, SuspendLeavesNeitherOldAudioNorNaN) {
    for (bool phaser : {false, true}) {
        auto shifter = makeShifter(1.5f);
        shifter->usePhaser = phaser;
        auto in = testkit::sine(440.0, kRate, 10000, 0.5f);
        if (phaser) in[3000] = kNaN;
        process(*shifter, in);
        shifter->suspend();
        const auto quiet = process(*shifter, Floats(5000, 0.0f));
        EXPECT_EQ(testkit::peakAbs(quiet.data(), quiet.size()), 0.0f) << "phaser " << phaser;
        const auto again = process(*shifter, testkit::sine(440.0, kRate, 24000, 0.5f));
        EXPECT_TRUE(testkit::allFinite(again.data(), again.size()));
        EXPECT_NEAR(pitchAfterWarmUp(again), 660.0, 660.0 * 0.03);
    }
}

TEST(PitchShift, FeedbackTailEndsInExactZeros) {
    auto shifter = makeShifter(1.5f);
    process(*shifter, testkit::noise(4000, 4, 0.8f));
    Floats silence;
    std::size_t subnormals = 0;
    for (int block = 0; block < 100; ++block) { // 200 000 samples
        silence = process(*shifter, Floats(2048, 0.0f));
        subnormals += lineSubnormals(*shifter);
    }
    EXPECT_EQ(subnormals, 0u);
    EXPECT_EQ(testkit::peakAbs(silence.data(), silence.size()), 0.0f);
}

TEST(PitchShift, ThreeMinutesLaterItSoundsTheSame) {
    auto shifter = makeShifter(1.5f);
    const auto tone = testkit::sine(440.0, kRate, 48000, 0.5f); // whole cycles: loops seamlessly
    Floats second, first;
    for (int s = 0; s < 180; ++s) {
        second = process(*shifter, tone);
        ASSERT_TRUE(testkit::allFinite(second.data(), second.size())) << "second " << s;
        if (s == 1) first = second;
    }
    EXPECT_NEAR(testkit::peakFrequency(second, kRate), testkit::peakFrequency(first, kRate), 3.0);
    EXPECT_NEAR(testkit::rms(second.data(), second.size()), testkit::rms(first.data(), first.size()), 0.01);
    EXPECT_EQ(lineSubnormals(*shifter), 0u);
}

TEST(PitchShift, ProcessingDoesNotAllocate) {
    auto shifter = makeShifter(0.75f);
    shifter->usePhaser = true;
    auto signal = testkit::noise(8192, 6, 0.5f);
    const float* ring = shifter->latency.getBuffer();
    testkit::AllocationCounter counter;
    shifter->processBuffer(signal.data(), 8192); // takes the new ring length on the way
    shifter->setShift(1.25f);
    shifter->processBuffer(signal.data(), 8192);
    shifter->suspend();
    const std::size_t allocations = counter.count();
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(shifter->latency.getBuffer(), ring); // the ring was big enough beforehand
    EXPECT_EQ(shifter->latency.lSize, 558);
}

TEST(PitchShiftDelay, FractionalReadsStayInsideTheLine) {
    PitchShift::PitchShiftDelay line(2.5f, 2048);
    Floats out;
    for (float x : testkit::impulse(5)) out.push_back(line.processSample(x));
    EXPECT_EQ(out, (Floats{0.0f, 0.0f, 0.5f, 0.5f, 0.0f}));

    // 0 minus a hair wraps to 2048 - 1e-5, which rounds to 2048 in single
    // precision: the read must land on slot 0 with no fraction.
    PitchShift::PitchShiftDelay edge(0.0f, 2048);
    edge.setDelay(1e-5f);
    EXPECT_EQ(edge.processSample(0.75f), 0.75f);

    PitchShift::PitchShiftDelay small(0.0f, 16);
    for (float d : {1e9f, -3.0f, -1e9f, 16.0f, 15.999f, 32.5f, kNaN}) {
        small.setDelay(d);
        EXPECT_TRUE(small.outPoint_ >= 0 && small.outPoint_ < 16) << d;
        EXPECT_TRUE(small.alpha_ >= 0.0f && small.alpha_ < 1.0f) << d;
        small.processSample(1.0f);
    }
    EXPECT_EQ(small.delay_, 32.5f);
}

TEST(Latency, DelaysByItsLengthAndTakesANewLengthAtTheNextTurn) {
    Latency ring;
    ring.lSize = ring.lNewSize = 4;
    EXPECT_EQ(feed(ring, ramp(7)), (Floats{0, 0, 0, 0, 1, 2, 3}));
    for (int n : {1, 0, -9}) {
        ring.setSize(n);
        EXPECT_EQ(ring.getSize(), 1);
    }

    Latency growing;
    growing.setSize(3);
    const auto out = feed(growing, ramp(1030));
    EXPECT_EQ(out[1023], 0.0f);
    EXPECT_EQ(out[1024], 1025.0f); // the turn's sample fills slot 0 and passes
    EXPECT_EQ(out[1027], 1025.0f); // from here on three samples late
    EXPECT_EQ(out[1028], 1026.0f);
}

TEST(Latency, BlockFormsMatchTheSampleForm) {
    Latency bySample, byBlock, stored;
    for (auto* r : {&bySample, &byBlock, &stored}) r->lSize = r->lNewSize = 5;
    const auto in = ramp(23);
    auto blocks = in;
    byBlock.processBufferEx(blocks.data(), 7);
    byBlock.processBufferEx(blocks.data() + 7, 16);
    EXPECT_EQ(blocks, feed(bySample, in));
    auto copy = in;
    stored.processBuffer(copy.data(), 23);
    EXPECT_EQ(Floats(stored.getBuffer(), stored.getBuffer() + 5), (Floats{21, 22, 23, 19, 20}));

    // A length change inside a block puts the block's previous sample in slot 0.
    Latency shrinking;
    shrinking.lSize = shrinking.lNewSize = 4;
    shrinking.setSize(2);
    auto block = ramp(8);
    shrinking.processBufferEx(block.data(), 8);
    EXPECT_EQ(block, (Floats{0, 0, 0, 0, 4, 2, 5, 6}));
}

TEST(CircularBuffer, ExchangeDelaysByTheWholeLengthAndCountsTurns) {
    CountingRing ring;
    auto block = ramp(10);
    ring.processBufferEx(block.data(), 10); // no buffer yet: nothing happens
    EXPECT_EQ(block, ramp(10));

    ring.ensure(4);
    ring.reset();
    ring.processBufferEx(block.data(), 10);
    EXPECT_EQ(block, (Floats{0, 0, 0, 0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(ring.turns, 3);

    ring.reset();
    ring.setInitialDelay(1);
    ring.setInitialDelay(5); // out of range: ignored
    auto stored = ramp(7, 11.0f);
    ring.processBuffer(stored.data(), 7);
    EXPECT_EQ(ring.turns, 5);
    EXPECT_EQ(Floats(ring.getBuffer(), ring.getBuffer() + 4), (Floats{16, 17, 14, 15}));
}
