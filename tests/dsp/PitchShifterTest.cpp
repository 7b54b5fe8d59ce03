#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <vector>

#include "dsp/PitchShifter.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/FrequencyMeasures.h"
#include "tests/support/Heap.h"
#include "tests/support/SameBits.h"
#include "tests/support/Signals.h"
#include "tests/support/Subnormals.h"

namespace {

constexpr float kRate = 48000.0f;

// The shifter as the kernel sets it up: built large, then frame 1024, overlap 6.
class Shifter : public SPECTRO::PitchShifter {
public:
    Shifter() : PitchShifter(4096, 6, kRate) { setSize(1024); }
    Shifter(int size, float rate) : PitchShifter(size, 6, rate) {}

    void shiftPitch() override {
        PitchShifter::shiftPitch();
        ratios.push_back(interp.currentValue);
    }
    const float* synthesisPhases() const { return phases2.getBuffer(); }
    int bins() const { return fftFrameSize2 + 1; }

    std::vector<float> ratios;
};

std::vector<float> shifted(Shifter& shifter, std::vector<float> signal) {
    shifter.process(signal.data(), static_cast<int>(signal.size()));
    return signal;
}

int firstNonZero(const std::vector<float>& v) {
    for (std::size_t i = 0; i < v.size(); ++i)
        if (v[i] != 0.0f) return static_cast<int>(i);
    return -1;
}

// Share of a block's energy within 5 % of `frequency`.
double purity(const float* block, std::size_t n, double frequency) {
    return testkit::bandEnergy(block, n, kRate, frequency * 0.95, frequency * 1.05) /
           testkit::bandEnergy(block, n, kRate, 0.0, kRate / 2.0);
}

} // namespace

TEST(PitchShifter, TransposesA440Sine) {
    for (float ratio : {2.0f, 0.5f, 1.5f}) {
        SCOPED_TRACE(ratio);
        auto shifter = testkit::makeHeap<Shifter>();
        shifter->setShift(ratio);
        EXPECT_EQ(shifter->getShift(), ratio);
        const auto out = shifted(*shifter, testkit::sine(440.0, kRate, 96000, 0.5f));
        // After the glide and the FIFO delay: one measurement bin (0.73 Hz) of the target.
        const double measured = testkit::peakFrequency(out.data() + 48000, 48000, kRate);
        EXPECT_NEAR(measured, 440.0 * ratio, kRate / 65536.0);
        EXPECT_GT(purity(out.data() + 48000, 48000, 440.0 * ratio), 0.95);
        EXPECT_TRUE(testkit::allFinite(out.data(), out.size()));
    }
}

TEST(PitchShifter, RatioOneLeavesTheBufferUntouched) {
    auto shifter = testkit::makeHeap<Shifter>();
    const auto noise = testkit::noise(5000, 11);
    EXPECT_EQ(shifted(*shifter, noise), noise);

    // Back at exactly 1.0 after shifting: untouched again, with no delay.
    shifter->setShift(1.25f);
    shifted(*shifter, noise);
    shifter->setShift(1.0f);
    EXPECT_EQ(shifted(*shifter, noise), noise);
}

TEST(PitchShifter, RatioGlidesOverTwelveFrames) {
    auto shifter = testkit::makeHeap<Shifter>();
    shifter->setShift(2.0f);
    shifted(*shifter, std::vector<float>(170 * 20, 0.25f));
    ASSERT_EQ(shifter->ratios.size(), 20u);
    for (int frame = 0; frame < 12; ++frame)
        EXPECT_NEAR(shifter->ratios[frame], 1.0f + (frame + 1) / 12.0f, 1e-5f) << frame;
    for (std::size_t frame = 11; frame < 20; ++frame) EXPECT_EQ(shifter->ratios[frame], 2.0f);
}

// The output FIFO holds zeros until the first frame, one hop in; its first
// sample carries the window's zero. An unchanged resynthesis (ratio 0) shows
// the full delay, one frame, and the overlap-add's level of 1.5.
TEST(PitchShifter, LeadingZerosAndDelayFollowTheFifo) {
    auto shifter = testkit::makeHeap<Shifter>();
    ASSERT_EQ(shifter->getFifoLatency(), 854);
    ASSERT_EQ(shifter->getStepSize(), 170);
    shifter->setShift(2.0f);
    EXPECT_EQ(firstNonZero(shifted(*shifter, testkit::sine(440.0, kRate, 4096))), 170 + 1);

    auto unchanged = testkit::makeHeap<Shifter>();
    unchanged->setShift(0.0f);
    shifted(*unchanged, std::vector<float>(170 * 12, 0.0f)); // let the glide reach 0
    const int at = 500;
    const auto out = shifted(*unchanged, testkit::impulse(4096, at));
    int loudest = 0;
    for (int i = 0; i < 4096; ++i)
        if (std::fabs(out[i]) > std::fabs(out[loudest])) loudest = i;
    EXPECT_EQ(loudest, at + unchanged->getDelay());
    EXPECT_EQ(unchanged->getDelay(), 1024);
    EXPECT_NEAR(out[loudest], 1.5f, 0.01f);
}

TEST(PitchShifter, BadRatiosNeitherHangNorCrash) {
    auto shifter = testkit::makeHeap<Shifter>();
    shifter->setShift(1.5f);
    for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                      -std::numeric_limits<float>::infinity()}) {
        shifter->setShift(bad);
        EXPECT_EQ(shifter->getShift(), 1.5f);
    }
    auto out = shifted(*shifter, testkit::sine(440.0, kRate, 48000));
    EXPECT_NEAR(testkit::peakFrequency(out.data() + 24000, 24000, kRate), 660.0, 1.0);

    // Source bins of a tiny ratio lie far beyond any int: all silent.
    for (float tiny : {1.0e-30f, 1.0e-42f}) {
        shifter->setShift(tiny);
        out = shifted(*shifter, testkit::noise(48000, 4));
        for (std::size_t i = 20000; i < out.size(); ++i) ASSERT_EQ(out[i], 0.0f) << tiny;
    }
    shifter->setShift(1.0e30f);
    out = shifted(*shifter, testkit::noise(48000, 4));
    EXPECT_TRUE(testkit::allFinite(out.data(), out.size()));
}

TEST(PitchShifter, FrequencyCeilingFollowsTheSampleRate) {
    // 15 kHz up an octave is 30 kHz: only legal at 96 kHz.
    auto shifter = testkit::makeHeap<Shifter>(1024, kRate);
    shifter->setSamplerate(96000.0f);
    shifter->setShift(2.0f);
    const auto out = shifted(*shifter, testkit::sine(15000.0, 96000.0, 96000, 0.5f));
    EXPECT_NEAR(testkit::peakFrequency(out.data() + 48000, 48000, 96000.0), 30000.0, 2.0);
    EXPECT_GT(testkit::rms(out.data() + 48000, 48000), 0.2);

    // And back at 48 kHz the 24 kHz ceiling silences what would alias.
    shifter->setSamplerate(kRate);
    shifter->setShift(1.9f);
    const auto high = shifted(*shifter, testkit::sine(14000.0, kRate, 48000, 0.5f));
    EXPECT_LT(testkit::rms(high.data() + 24000, 24000), 1e-3);
}

TEST(PitchShifter, GrowingTheFrameGrowsTheShiftedSpectra) {
    auto shifter = testkit::makeHeap<Shifter>(1024, kRate);
    shifter->setSize(4096);
    ASSERT_EQ(shifter->bins(), 2049);
    shifter->setShift(2.0f);
    const auto out = shifted(*shifter, testkit::sine(440.0, kRate, 96000, 0.5f));
    EXPECT_NEAR(testkit::peakFrequency(out.data() + 48000, 48000, kRate), 880.0, 1.0);
}

TEST(PitchShifter, ResetForgetsEverythingIncludingSynthesisPhases) {
    auto played = testkit::makeHeap<Shifter>();
    auto silent = testkit::makeHeap<Shifter>();
    played->setShift(1.5f);
    silent->setShift(1.5f);
    auto noise = testkit::noise(24000, 8);
    noise[5000] = std::numeric_limits<float>::quiet_NaN();
    shifted(*played, noise);
    shifted(*silent, std::vector<float>(24000, 0.0f));
    played->reset();
    silent->reset();

    const auto sine = testkit::sine(440.0, kRate, 24000);
    const auto a = shifted(*played, sine);
    const auto b = shifted(*silent, sine);
    EXPECT_EQ(a, b);
    EXPECT_TRUE(testkit::allFinite(a.data(), a.size()));
    EXPECT_NE(testkit::peakAbs(a.data(), a.size()), 0.0f);
}

// Two minutes of a steady tone: the synthesis phases stay wrapped, the level
// holds steady (no slow swell and fade) and the last second is as clean as
// the first settled one.
TEST(PitchShifter, LongRunStaysSteadyAndClean) {
    auto shifter = testkit::makeHeap<Shifter>();
    shifter->setShift(1.5f);
    const std::size_t block = 48000;
    std::vector<float> first, last;
    double quietest = 1e9, loudest = 0.0;
    for (std::size_t second = 0; second < 120; ++second) {
        auto chunk = testkit::sine(440.0, kRate, block, 0.5f,
                                   2.0 * std::numbers::pi * 440.0 * static_cast<double>(second));
        shifter->process(chunk.data(), static_cast<int>(block));
        ASSERT_TRUE(testkit::allFinite(chunk.data(), block)) << second;
        ASSERT_EQ(testkit::countSubnormals(chunk.data(), block), 0u) << second;
        if (second == 0) continue;
        const double level = testkit::rms(chunk.data(), block);
        quietest = std::min(quietest, level);
        loudest = std::max(loudest, level);
        if (second == 1) first = chunk;
        last = chunk;
    }
    for (int k = 0; k < shifter->bins(); ++k) {
        ASSERT_GE(shifter->synthesisPhases()[k], -SPECTRO::kPi) << k;
        ASSERT_LT(shifter->synthesisPhases()[k], SPECTRO::kPi) << k;
    }
    EXPECT_GT(quietest, 0.05);
    EXPECT_LT(loudest / quietest, 1.02);
    EXPECT_NEAR(testkit::peakFrequency(last, kRate), 660.0, 0.5);
    EXPECT_GE(purity(last.data(), block, 660.0), purity(first.data(), block, 660.0) - 1e-4);
}

TEST(PitchShifter, ProcessingAllocatesNothing) {
    auto shifter = testkit::makeHeap<SPECTRO::PitchShifter>(4096, 6, kRate);
    shifter->setSize(1024);
    auto signal = testkit::noise(48000, 2);
    testkit::AllocationCounter counter;
    shifter->setShift(0.75f);
    shifter->process(signal.data(), 24000);
    shifter->setShift(1.25f);
    shifter->process(signal.data() + 24000, 24000);
    shifter->reset();
    const auto allocations = counter.count();
    EXPECT_EQ(allocations, 0u);
}

namespace {

// The shifter with its bin mapping and overlap-add written one bin and one
// sample at a time, the plain way: the fast paths must match it bit for bit.
class PerBinShifter : public SPECTRO::PitchShifter {
public:
    PerBinShifter() : PitchShifter(4096, 6, kRate) { setSize(1024); }

    void shiftPitch() override {
        float* mags = magnitudes.getBuffer();
        float* freqs = frequencies.getBuffer();
        mags[0] = freqs[0] = 0.0f;
        const float ratio = interp.getValue();
        const float lastBin = static_cast<float>(fftFrameSize2);
        for (int k = 0; k <= fftFrameSize2; ++k) {
            const float source = std::floor(static_cast<float>(k) / ratio + 0.5f);
            float mag = 0.0f, freq = 0.0f;
            if (source <= lastBin) {
                const int j = static_cast<int>(source);
                freq = freqs[j] * ratio;
                mag = mags[j];
                if (bAntiAliasing && freq > maxFreq) mag = freq = 0.0f;
            }
            magnitudes2[k] = mag;
            frequencies2[k] = freq;
        }
        float* c = complex.getBuffer();
        frequencies2complex(magnitudes2.getBuffer(), frequencies2.getBuffer(), phases2.getBuffer(), c);
        std::fill(c + fftFrameSize + 2, c + _2fftFrameSize, 0.0f);
    }

    void complex2buffer(float* c, float* out) override {
        if (c == nullptr) c = complex.getBuffer();
        onComplex(c);
        fft(1, c);
        const float norm = static_cast<float>(fftFrameSize2 * osamp);
        for (int k = 0; k < fftFrameSize; ++k) resynth[k] += 2.0f * window[k] * c[2 * k] / norm;
        doOutput(out);
        shiftResyn();
    }
};

} // namespace

// Noise through gliding ratios both ways, in blocks of odd sizes.
TEST(PitchShifter, MatchesThePerBinRulesBitForBit) {
    auto fast = testkit::makeHeap<SPECTRO::PitchShifter>(4096, 6, kRate);
    fast->setSize(1024);
    auto plain = testkit::makeHeap<PerBinShifter>();
    const auto signal = testkit::noise(48000 * 3, 11);
    // A tiny ratio reaches for sources far beyond the spectrum.
    const float ratios[] = {1.5f, 0.5f, 2.0f, 1.0e-30f, 0.75f, 3.1f};
    const int blocks[] = {1, 7, 511, 1023, 97};
    std::size_t at = 0;
    for (int round = 0; at < signal.size(); ++round) {
        const float ratio = ratios[(round / 5) % 6];
        fast->setShift(ratio);
        plain->setShift(ratio);
        const std::size_t n =
            std::min<std::size_t>(static_cast<std::size_t>(blocks[round % 5]), signal.size() - at);
        std::vector<float> a(signal.begin() + at, signal.begin() + at + n), b = a;
        fast->process(a.data(), static_cast<int>(n));
        plain->process(b.data(), static_cast<int>(n));
        ASSERT_TRUE(testkit::sameBits(a, b)) << "from frame " << at;
        at += n;
    }
}
