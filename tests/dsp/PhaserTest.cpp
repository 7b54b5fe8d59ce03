#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <vector>

#include "dsp/Phaser.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/Heap.h"
#include "tests/support/Signals.h"
#include "tests/support/FrequencyMeasures.h"
#include "tests/support/Subnormals.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

std::vector<float> run(SineOscillator& osc, int n) {
    std::vector<float> out(static_cast<std::size_t>(n));
    for (auto& s : out) s = osc.processSample1();
    return out;
}

// Frequency (25 Hz grid) where dry plus the eight-section wet signal cancels,
// with the LFO held near the given phase.
double notchFrequency(CPhaser& phaser, float lfoPhase) {
    double best = 0.0, bestLevel = 1e9;
    for (double f = 500.0; f <= 4000.0; f += 25.0) {
        phaser.reset();
        phaser.fFeedback = 0.0f;
        phaser.setPhase(lfoPhase);
        const auto in = testkit::sine(f, 44100.0, 4096);
        auto out = in;
        phaser.processBuffer(in.data(), out.data(), 4096);
        const double level = testkit::rms(out.data() + 2048, 2048);
        if (level < bestLevel) {
            bestLevel = level;
            best = f;
        }
    }
    return best;
}

} // namespace

TEST(SineOscillator, SharesOneSineTableAndStepsItsPhaseIn24Bits) {
    SineOscillator a;
    const long before = SineOscillator::count;
    {
        SineOscillator b;
        EXPECT_EQ(SineOscillator::count, before + 1);
        EXPECT_EQ(b.table, SineOscillator::wave);
    }
    EXPECT_EQ(SineOscillator::count, before);

    const float* w = SineOscillator::wave;
    EXPECT_EQ(w[0], 0.0f);
    EXPECT_EQ(w[2048], 1.0f);
    EXPECT_EQ(w[6144], -1.0f);
    double worst = 0.0;
    for (long i = 0; i < SineOscillator::kTableSize; ++i)
        worst = std::max(worst, static_cast<double>(std::fabs(
                                    w[i] - std::sin(2.0L * std::numbers::pi_v<long double> * i / 8192.0L))));
    EXPECT_LT(worst, 6.0e-8); // float rounding only
    EXPECT_EQ(a.lobits, 11);

    a.processSample1(); // 440 Hz at 44100 Hz: 440 * 380.43573... = 167391.72, truncated
    EXPECT_EQ(a.phase, 167391);
    for (int i = 1; i < 1000; ++i) a.processSample1();
    EXPECT_EQ(a.phase, (1000LL * 167391) & 0xFFFFFF);
}

TEST(SineOscillator, BadSettingsAreIgnored) {
    SineOscillator reference, osc;
    for (float p : {1.5f, -0.1f, kNaN}) osc.setPhase(p);
    for (float f : {-1.0f, kNaN, kInf}) osc.setFrequency(f);
    for (float g : {-1.0f, kNaN, kInf}) osc.setGain(g);
    for (float fs : {0.0f, -48000.0f, kNaN}) osc.setSamplerate(fs);
    osc.setTable(nullptr, 8192);
    osc.setTable(SineOscillator::wave, 0);
    EXPECT_EQ(run(osc, 500), run(reference, 500));

    // A rate whose step overflows float still gives a phase in range.
    osc.setSamplerate(1e-30f);
    for (float v : run(osc, 100)) ASSERT_TRUE(v >= 0.0f && v <= 1.0f);
}

TEST(AllPassDelay, MagnitudeIsFlatAndZeroCoefficientIsAOneSampleDelay) {
    for (float a : {0.0f, 0.5f, -0.7f, 0.95f}) {
        CPhaser::AllPassDelay section;
        section.phase = a;
        std::vector<std::complex<double>> response(1024);
        for (std::size_t i = 0; i < response.size(); ++i)
            response[i] = section.processSample(i == 0 ? 1.0f : 0.0f);
        if (a == 0.0f) {
            EXPECT_EQ(response[0], 0.0);
            EXPECT_EQ(response[1], 1.0);
        }
        const auto spectrum = testkit::dft(response);
        for (std::size_t k = 0; k <= spectrum.size() / 2; ++k)
            ASSERT_NEAR(std::abs(spectrum[k]), 1.0, 1e-4) << "a=" << a << " bin " << k;
    }
}

TEST(CPhaser, SettersLimitOrIgnore) {
    CPhaser phaser;
    phaser.setFrequency(0.0f);
    EXPECT_EQ(phaser.fFrequency, 0.125f);
    phaser.setFrequency(1e6f);
    phaser.setFrequency(kNaN);
    EXPECT_EQ(phaser.fFrequency, 44100.0f);
    EXPECT_EQ(phaser.oscillator.fFrequency, 44100.0f);

    phaser.setPhase(1.5f);
    EXPECT_EQ(phaser.fPhase, 1.0f);
    phaser.setPhase(-2.0f);
    EXPECT_EQ(phaser.fPhase, 0.0f);
    phaser.setPhase(0.25f);
    phaser.setPhase(kNaN);
    EXPECT_EQ(phaser.oscillator.phase, 16777216 / 4);

    phaser.setSamplerate(96000.0f);
    phaser.setSamplerate(kNaN);
    EXPECT_EQ(phaser.oscillator.fSamplerate, 96000.0f);

    const auto in = testkit::noise(256, 5);
    for (long stages : {0L, 9L}) { // nothing is added outside one to eight sections
        phaser.lNumStages = stages;
        std::vector<float> out(in.size(), 0.25f);
        phaser.processBuffer(in.data(), out.data(), 256);
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == 0.25f; }));
    }
}

TEST(CPhaser, NotchesMoveWithTheLfo) {
    auto phaser = testkit::makeHeap<CPhaser>();
    // At the LFO's trough the coefficient is 0: eight sections are an
    // eight-sample delay and the first notch sits at fs / 16.
    EXPECT_NEAR(notchFrequency(*phaser, 0.75f), 44100.0 / 16.0, 30.0);
    // At its crest the coefficient 0.3 drags the notch far down.
    const double low = notchFrequency(*phaser, 0.25f);
    EXPECT_GT(low, 1200.0);
    EXPECT_LT(low, 1800.0);
}

TEST(CPhaser, DecayingFeedbackEndsInExactZerosInBothForms) {
    auto phaser = testkit::makeHeap<CPhaser>();
    const auto in = testkit::impulse(48000);
    std::vector<float> out(in.size(), 0.0f);
    phaser->processBuffer(in.data(), out.data(), static_cast<long>(in.size()));
    EXPECT_GT(testkit::peakAbs(out.data(), 100), 0.1f);
    EXPECT_EQ(testkit::countSubnormals(out.data(), out.size()), 0u);
    EXPECT_EQ(testkit::peakAbs(out.data() + 40000, 8000), 0.0f);

    // The single-section form scales its state by the mix on the way out, so
    // the state itself is what must never go subnormal.
    phaser->reset();
    std::size_t subnormalStates = 0;
    for (std::size_t i = 0; i < in.size(); ++i) {
        out[i] = phaser->processSample(in[i]);
        subnormalStates += testkit::isSubnormal(phaser->zm) + testkit::isSubnormal(phaser->stage[5].zm);
    }
    EXPECT_EQ(subnormalStates, 0u);
    EXPECT_EQ(testkit::peakAbs(out.data() + 40000, 8000), 0.0f);
}

TEST(CPhaser, ResetRestoresDefaultsAndClearDropsOnlyTheState) {
    auto phaser = testkit::makeHeap<CPhaser>();
    phaser->fMix = 0.9f;
    phaser->lNumStages = 2;
    phaser->setFrequency(5.0f);
    phaser->setPhase(0.5f);
    phaser->processSample(kNaN);
    EXPECT_TRUE(std::isnan(phaser->processSample(0.0f)));
    phaser->clear();
    EXPECT_EQ(phaser->fMix, 0.9f);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(phaser->processSample(0.0f), 0.0f);

    phaser->reset();
    EXPECT_EQ(phaser->fMix, 0.5f);
    EXPECT_EQ(phaser->fFrequency, 0.125f);
    EXPECT_EQ(phaser->lNumStages, 8);
    EXPECT_EQ(phaser->oscillator.phase, 0);
}

TEST(CPhaser, ProcessingDoesNotAllocate) {
    auto phaser = testkit::makeHeap<CPhaser>();
    const auto in = testkit::noise(4096, 13);
    std::vector<float> out(in.size(), 0.0f);
    testkit::AllocationCounter counter;
    phaser->processBuffer(in.data(), out.data(), static_cast<long>(in.size()));
    for (float x : in) out[0] += phaser->processSample(x);
    const std::size_t allocations = counter.count();
    EXPECT_EQ(allocations, 0u);
}
