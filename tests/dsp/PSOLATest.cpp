#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "dsp/PSOLA.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/Heap.h"
#include "tests/support/Signals.h"
#include "tests/support/Spectrum.h"
#include "tests/support/Subnormals.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr double kRate = 48000.0;

using PSOLA::PitchShift;

std::unique_ptr<PitchShift> makeShifter(float ratio = 1.0f) {
    auto shifter = testkit::makeHeap<PitchShift>(43.0f, 48000.0f);
    shifter->setShift(ratio);
    return shifter;
}

std::vector<float> process(PitchShift& shifter, std::vector<float> signal) {
    shifter.processBuffer(signal.data(), static_cast<int>(signal.size()));
    return signal;
}

std::vector<float> feed(Latency& ring, const std::vector<float>& in) {
    std::vector<float> out;
    for (float x : in) out.push_back(ring.processSampleEx(x));
    return out;
}

std::vector<float> ramp(int n, float start = 1.0f) {
    std::vector<float> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) v[static_cast<std::size_t>(i)] = start + static_cast<float>(i);
    return v;
}

std::size_t lineSubnormals(PitchShift& shifter) {
    std::size_t count = 0;
    for (auto& line : shifter.delayLine_)
        count += testkit::countSubnormals(line.buffer.getBuffer(), static_cast<std::size_t>(line.size_));
    return count;
}

class CountingRing : public CircularBuffer {
public:
    void onBufferReady() override { ++turns; }
    int turns = 0;
};

} // namespace

// ---- PitchShift -------------------------------------------------------------

TEST(PitchShift, WindowFollowsSampleRateAndLowestFrequency) {
    auto shifter = makeShifter();
    EXPECT_EQ(shifter->size, 1116);
    EXPECT_EQ(shifter->halfLength_, 558);
    EXPECT_EQ(shifter->latency.getSize(), 558);
    EXPECT_EQ(shifter->delayLine_[0].size_, 2048);

    shifter->setSamplerate(44100.0f);
    EXPECT_EQ(shifter->size, 1025);
    EXPECT_EQ(shifter->halfLength_, 512);

    shifter->setLowestFreq(10.0f, 48000.0f);
    EXPECT_EQ(shifter->fLowestFreq, 20.0f);
    EXPECT_EQ(shifter->size, 2400);
    EXPECT_GE(shifter->delayLine_[1].size_, 2400);

    shifter->setSamplerate(8000.0f);
    EXPECT_EQ(shifter->fSamplerate, 12000.0f);
    EXPECT_EQ(shifter->size, 600);
}

TEST(PitchShift, WindowIsRaisedCosineWhoseHalvesSumToOne) {
    auto shifter = makeShifter();
    for (float rate : {48000.0f, 44100.0f}) { // even and odd window lengths
        shifter->setSamplerate(rate);
        const int n = shifter->size;
        const int h = n / 2;
        const float* w = shifter->window.get();
        EXPECT_EQ(w[0], 0.0f);
        EXPECT_EQ(w[h], 1.0f);
        for (int j = 0; j < h; ++j) ASSERT_NEAR(w[j] + w[j + h], 1.0f, 1e-6f) << "n=" << n << " j=" << j;
        if (n % 2 == 1) {
            EXPECT_EQ(w[n - 1], 0.0f);
        }
    }
}

TEST(PitchShift, CrossfadeGainsSumToOneAtEveryRatio) {
    // A constant input reads as the same constant from any delay, so the
    // output is exactly the sum of the two window gains.
    for (float ratio : {2.0f, 0.5f, 1.5f, 0.75f, 3.0f, -1.0f, 1.0f}) {
        auto shifter = makeShifter(ratio);
        shifter->setFeedback(0.0f);
        const auto out = process(*shifter, std::vector<float>(20000, 1.0f));
        for (std::size_t i = 4096; i < out.size(); ++i)
            ASSERT_NEAR(out[i], 1.0f, 2e-5f) << "ratio " << ratio << " at " << i;
    }
}

TEST(PitchShift, SineComesOutAtTheRatioTimesItsFrequency) {
    const auto in = testkit::sine(440.0, kRate, 48000, 0.5f);
    for (float ratio : {2.0f, 0.5f, 1.5f}) {
        auto shifter = makeShifter(ratio);
        const auto out = process(*shifter, in);
        const double measured = testkit::peakFrequency(out.data() + 8192, out.size() - 8192, kRate);
        EXPECT_NEAR(measured, 440.0 * ratio, 440.0 * ratio * 0.03) << "ratio " << ratio;
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

TEST(PitchShift, RatioTwoSweepsTheDelaysDownOneSampleAtATime) {
    auto shifter = makeShifter(2.0f);
    shifter->processSample(0.0f);
    EXPECT_EQ(shifter->delay_[0], 1115.0f);
    EXPECT_EQ(shifter->delay_[1], 557.0f);
    for (int i = 0; i < 1115; ++i) shifter->processSample(0.0f);
    EXPECT_EQ(shifter->delay_[0], 0.0f);
    shifter->processSample(0.0f);
    EXPECT_EQ(shifter->delay_[0], 1115.0f); // jumped back by the whole sweep
}

TEST(PitchShift, NonFiniteRatiosAreIgnoredAndHugeOnesFinish) {
    auto shifter = makeShifter(2.0f);
    for (float bad : {kNaN, kInf, -kInf}) shifter->setShift(bad);
    EXPECT_EQ(shifter->rate_.load(), -1.0f);

    const auto in = testkit::sine(440.0, kRate, 10000, 0.5f);
    for (float huge : {1e30f, -1e30f, 5000.0f, -3e7f}) {
        shifter->setShift(huge);
        const auto out = process(*shifter, in);
        EXPECT_TRUE(testkit::allFinite(out.data(), out.size())) << huge;
        for (float d : shifter->delay_) {
            EXPECT_GE(d, 0.0f);
            EXPECT_LE(d, static_cast<float>(shifter->size));
        }
    }
}

TEST(PitchShift, SuspendLeavesNothingToReplay) {
    for (bool phaser : {false, true}) {
        auto shifter = makeShifter(1.5f);
        shifter->usePhaser = phaser;
        process(*shifter, testkit::sine(440.0, kRate, 10000, 0.5f));
        shifter->suspend();
        const auto out = process(*shifter, std::vector<float>(5000, 0.0f));
        EXPECT_EQ(testkit::peakAbs(out.data(), out.size()), 0.0f) << "phaser " << phaser;
    }
}

TEST(PitchShift, NaNInputPassesThroughAndSuspendClearsIt) {
    auto shifter = makeShifter(0.5f);
    shifter->usePhaser = true;
    auto in = testkit::sine(440.0, kRate, 6000, 0.5f);
    in[100] = kNaN;
    in[3000] = kInf;
    process(*shifter, in);
    shifter->suspend();
    const auto quiet = process(*shifter, std::vector<float>(5000, 0.0f));
    EXPECT_EQ(testkit::peakAbs(quiet.data(), quiet.size()), 0.0f);
    const auto again = process(*shifter, testkit::sine(440.0, kRate, 24000, 0.5f));
    EXPECT_TRUE(testkit::allFinite(again.data(), again.size()));
    EXPECT_NEAR(testkit::peakFrequency(again.data() + 8192, again.size() - 8192, kRate), 220.0, 220.0 * 0.03);
}

TEST(PitchShift, WindowNeverShrinksToNothing) {
    auto shifter = makeShifter(1.5f);
    shifter->setLowestFreq(kNaN, 48000.0f);
    shifter->setSamplerate(kInf);
    shifter->setSamplerate(kNaN);
    EXPECT_EQ(shifter->size, 1116);

    shifter->setLowestFreq(1e30f, 48000.0f);
    EXPECT_EQ(shifter->size, PitchShift::kMinWindow);
    EXPECT_GE(shifter->halfLength_, 1);
    shifter->init(0);
    shifter->init(-7);
    EXPECT_EQ(shifter->size, PitchShift::kMinWindow);
    const auto out = process(*shifter, testkit::noise(5000, 2, 0.5f));
    EXPECT_TRUE(testkit::allFinite(out.data(), out.size()));
    EXPECT_LE(testkit::peakAbs(out.data(), out.size()), 1.0f);
}

TEST(PitchShift, FeedbackTailEndsInExactZeros) {
    auto shifter = makeShifter(1.5f);
    process(*shifter, testkit::noise(4000, 4, 0.8f));
    std::vector<float> silence(2048);
    std::size_t subnormals = 0;
    for (int block = 0; block < 100; ++block) { // 200 000 samples of silence
        std::fill(silence.begin(), silence.end(), 0.0f);
        shifter->processBuffer(silence.data(), 2048);
        subnormals += lineSubnormals(*shifter);
    }
    EXPECT_EQ(subnormals, 0u);
    EXPECT_EQ(testkit::peakAbs(silence.data(), silence.size()), 0.0f);
}

TEST(PitchShift, ThreeMinutesLaterItSoundsTheSame) {
    auto shifter = makeShifter(1.5f);
    const std::size_t second = 48000;
    const auto tone = testkit::sine(440.0, kRate, second, 0.5f); // whole cycles: loops seamlessly
    std::vector<float> block(second);
    std::vector<float> first;
    for (int s = 0; s < 180; ++s) {
        block = tone;
        shifter->processBuffer(block.data(), static_cast<int>(block.size()));
        ASSERT_TRUE(testkit::allFinite(block.data(), block.size())) << "second " << s;
        if (s == 1) first = block;
    }
    EXPECT_NEAR(testkit::peakFrequency(block, kRate), testkit::peakFrequency(first, kRate), 3.0);
    EXPECT_NEAR(testkit::rms(block.data(), block.size()), testkit::rms(first.data(), first.size()), 0.01);
    EXPECT_EQ(lineSubnormals(*shifter), 0u);
}

TEST(PitchShift, ProcessingDoesNotAllocate) {
    auto shifter = makeShifter(0.75f);
    shifter->usePhaser = true;
    auto signal = testkit::noise(8192, 6, 0.5f);
    const float* ring = shifter->latency.getBuffer();
    testkit::AllocationCounter counter;
    shifter->processBuffer(signal.data(), static_cast<int>(signal.size())); // takes the new ring length
    shifter->setShift(1.25f);
    shifter->processBuffer(signal.data(), static_cast<int>(signal.size()));
    shifter->suspend();
    const std::size_t allocations = counter.count();
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(shifter->latency.getBuffer(), ring);
    EXPECT_EQ(shifter->latency.lSize, 558);
}

// ---- PitchShiftDelay ----------------------------------------------------------

TEST(PitchShiftDelay, FractionalDelaySplitsAnImpulse) {
    PitchShift::PitchShiftDelay line(2.5f, 2048);
    std::vector<float> out;
    for (float x : testkit::impulse(6)) out.push_back(line.processSample(x));
    EXPECT_EQ(out, (std::vector<float>{0.0f, 0.0f, 0.5f, 0.5f, 0.0f, 0.0f}));
}

TEST(PitchShiftDelay, ReadPointThatRoundsUpToTheLengthIsSlotZero) {
    // inPoint 0 minus a hair wraps to 2048 - 1e-5, which rounds to 2048 in
    // single precision: the read must land on slot 0 with no fraction.
    PitchShift::PitchShiftDelay line(0.0f, 2048);
    line.setDelay(1e-5f);
    EXPECT_EQ(line.outPoint_, 0);
    EXPECT_EQ(line.alpha_, 0.0f);
    EXPECT_EQ(line.processSample(0.75f), 0.75f);
}

TEST(PitchShiftDelay, AnyFiniteDelayReadsInsideTheLine) {
    PitchShift::PitchShiftDelay line(0.0f, 16);
    line.setFeedback(0.5f);
    for (float d : {1e9f, -3.0f, -1e9f, 16.0f, 15.999f, 32.5f}) {
        line.setDelay(d);
        EXPECT_GE(line.outPoint_, 0) << d;
        EXPECT_LT(line.outPoint_, line.size_) << d;
        EXPECT_GE(line.alpha_, 0.0f) << d;
        EXPECT_LT(line.alpha_, 1.0f) << d;
        line.processSample(1.0f);
    }
    line.setDelay(kNaN);
    EXPECT_EQ(line.delay_, 32.5f);
}

// ---- Latency and CircularBuffer ----------------------------------------------

TEST(Latency, DelaysByItsLength) {
    Latency ring;
    ring.lSize = ring.lNewSize = 4;
    EXPECT_EQ(feed(ring, ramp(7)), (std::vector<float>{0, 0, 0, 0, 1, 2, 3}));

    ring.setSize(1);
    EXPECT_EQ(ring.getSize(), 1);
    ring.setSize(0);
    EXPECT_EQ(ring.getSize(), 1);
    ring.setSize(-9);
    EXPECT_EQ(ring.getSize(), 1);
}

TEST(Latency, NewLengthIsTakenAtTheNextTurn) {
    Latency ring;
    ring.setSize(3);
    EXPECT_EQ(ring.lSize, 1024);
    const auto out = feed(ring, ramp(1030));
    for (int i = 0; i < 1024; ++i) ASSERT_EQ(out[static_cast<std::size_t>(i)], 0.0f);
    EXPECT_EQ(ring.lSize, 3);
    EXPECT_EQ(out[1024], 1025.0f); // the turn's sample fills slot 0 and passes
    EXPECT_EQ(out[1027], 1025.0f); // from here on three samples late
    EXPECT_EQ(out[1028], 1026.0f);
}

TEST(Latency, GrowingPastItsRoomAllocatesOnlyAtTheTurn) {
    Latency ring;
    ring.setSize(2000);
    const float* before = ring.getBuffer();
    feed(ring, ramp(1024));
    EXPECT_EQ(ring.getBuffer(), before);
    EXPECT_EQ(ring.lSize, 1024);
    feed(ring, ramp(2));
    EXPECT_EQ(ring.lSize, 2000);
    EXPECT_GE(ring.DynaBuffer::getSize(), 2000);
}

TEST(Latency, BlockFormsMatchTheSampleForm) {
    Latency bySample;
    Latency byBlock;
    Latency stored;
    for (auto* r : {&bySample, &byBlock, &stored}) r->lSize = r->lNewSize = 5;
    const auto in = ramp(23);
    const auto expected = feed(bySample, in);
    auto blocks = in;
    byBlock.processBufferEx(blocks.data(), 7);
    byBlock.processBufferEx(blocks.data() + 7, 16);
    EXPECT_EQ(blocks, expected);

    auto copy = in;
    stored.processBuffer(copy.data(), 23);
    EXPECT_EQ(copy, in);
    const float* ring = stored.getBuffer();
    EXPECT_EQ(std::vector<float>(ring, ring + 5), (std::vector<float>{21, 22, 23, 19, 20}));
}

TEST(Latency, BlockLengthChangeHoldsThePreviousSample) {
    Latency ring;
    ring.lSize = ring.lNewSize = 4;
    ring.setSize(2);
    auto block = ramp(8, 1.0f); // the turn comes at the fifth sample
    ring.processBufferEx(block.data(), 8);
    // The turn's slot gets the previous sample; the other slots still hold
    // the longer ring's samples until they are overwritten.
    EXPECT_EQ(block, (std::vector<float>{0, 0, 0, 0, 4, 2, 5, 6}));

    Latency atStart;
    atStart.lSize = atStart.lNewSize = 2;
    auto first = ramp(2, 1.0f);
    atStart.processBufferEx(first.data(), 2);
    atStart.setSize(3);
    auto second = ramp(4, 3.0f); // the turn is the block's first sample: it passes
    atStart.processBufferEx(second.data(), 4);
    EXPECT_EQ(second, (std::vector<float>{3, 2, 0, 3}));
}

TEST(CircularBuffer, ExchangeDelaysByTheWholeLengthAndCountsTurns) {
    CountingRing ring;
    ring.ensure(4);
    ring.reset();
    auto block = ramp(10);
    ring.processBufferEx(block.data(), 10);
    EXPECT_EQ(block, (std::vector<float>{0, 0, 0, 0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(ring.turns, 3);

    auto stored = ramp(6, 11.0f);
    ring.reset();
    ring.processBuffer(stored.data(), 6);
    EXPECT_EQ(std::vector<float>(ring.getBuffer(), ring.getBuffer() + 4),
              (std::vector<float>{15, 16, 13, 14}));
}

TEST(CircularBuffer, InitialDelayEndsTheFirstTurnEarly) {
    CountingRing ring;
    ring.ensure(4);
    ring.reset();
    ring.setInitialDelay(1);
    auto block = ramp(2);
    ring.processBuffer(block.data(), 1);
    EXPECT_EQ(ring.turns, 0);
    ring.processBuffer(block.data() + 1, 1);
    EXPECT_EQ(ring.turns, 1);

    ring.setInitialDelay(5);
    ring.setInitialDelay(-1);
    EXPECT_EQ(ring.pos, 1);
}

TEST(CircularBuffer, NothingHappensWithoutABufferOrABlock) {
    CountingRing empty;
    auto block = ramp(4);
    empty.processBuffer(block.data(), 4);
    empty.processBufferEx(block.data(), 4);
    EXPECT_EQ(block, ramp(4));
    EXPECT_EQ(empty.turns, 0);

    Latency ring;
    ring.processBufferEx(nullptr, 4);
    ring.processBuffer(nullptr, 4);
    EXPECT_EQ(ring.pos, 0);
}
