#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <vector>

#include "dsp/Phaser.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/Heap.h"
#include "tests/support/Signals.h"
#include "tests/support/Spectrum.h"
#include "tests/support/Subnormals.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

std::vector<float> run(SineOscillator& osc, int n) {
    std::vector<float> out(static_cast<std::size_t>(n));
    for (auto& s : out) s = osc.processSample1();
    return out;
}

// Frequency (on a 25 Hz grid) where dry plus the eight-section wet signal
// cancels, with the LFO held near the given phase.
double notchFrequency(CPhaser& phaser, float lfoPhase) {
    constexpr double fs = 44100.0;
    double best = 0.0;
    double bestLevel = 1e9;
    for (double f = 500.0; f <= 4000.0; f += 25.0) {
        phaser.reset();
        phaser.fFeedback = 0.0f;
        phaser.setPhase(lfoPhase);
        const auto in = testkit::sine(f, fs, 4096);
        auto out = in;
        phaser.processBuffer(in.data(), out.data(), static_cast<long>(out.size()));
        const double level = testkit::rms(out.data() + 2048, 2048);
        if (level < bestLevel) {
            bestLevel = level;
            best = f;
        }
    }
    return best;
}

} // namespace

TEST(SineOscillator, SharedTableHoldsOneSineCycle) {
    SineOscillator a;
    const long before = SineOscillator::count;
    {
        SineOscillator b;
        EXPECT_EQ(SineOscillator::count, before + 1);
        EXPECT_EQ(a.table, b.table);
        EXPECT_EQ(a.table, SineOscillator::wave);
    }
    EXPECT_EQ(SineOscillator::count, before);

    const float* w = SineOscillator::wave;
    EXPECT_EQ(w[0], 0.0f);
    EXPECT_EQ(w[2048], 1.0f);
    EXPECT_EQ(w[6144], -1.0f);
    EXPECT_EQ(w[1024], static_cast<float>(std::sqrt(0.5)));
    double worst = 0.0;
    for (long i = 0; i < SineOscillator::kTableSize; ++i) {
        const long double ref = std::sin(2.0L * 3.14159265358979323846264338327950288L * i / 8192.0L);
        worst = std::max(worst, static_cast<double>(std::fabs(w[i] - ref)));
    }
    EXPECT_LT(worst, 6.0e-8); // float rounding only
    EXPECT_EQ(a.lobits, 11);
}

TEST(SineOscillator, PhaseAdvancesByTruncatedStepAndWraps) {
    SineOscillator osc; // 440 Hz at 44100 Hz: 440 * 380.43573... = 167391.72
    osc.processSample1();
    EXPECT_EQ(osc.phase, 167391);
    for (int i = 1; i < 1000; ++i) osc.processSample1();
    EXPECT_EQ(osc.phase, (1000LL * 167391) & 0xFFFFFF);
}

TEST(SineOscillator, OutputIsUnipolarSineAtTheSetFrequency) {
    SineOscillator osc;
    osc.setSamplerate(48000.0f);
    osc.setFrequency(1000.0f);
    osc.setGain(0.5f);
    auto out = run(osc, 8192);
    const auto [lo, hi] = std::minmax_element(out.begin(), out.end());
    EXPECT_GE(*lo, 0.0f);
    EXPECT_LE(*hi, 0.5f);
    EXPECT_NEAR(*hi - *lo, 0.5f, 1e-3f);
    for (auto& s : out) s -= 0.25f;
    EXPECT_NEAR(testkit::peakFrequency(out, 48000.0), 1000.0, 5.0);
}

TEST(SineOscillator, BadSettingsAreIgnored) {
    SineOscillator reference;
    SineOscillator osc;
    osc.setPhase(1.5f);
    osc.setPhase(-0.1f);
    osc.setPhase(kNaN);
    osc.setFrequency(-1.0f);
    osc.setFrequency(kNaN);
    osc.setFrequency(kInf);
    osc.setGain(-1.0f);
    osc.setGain(kNaN);
    osc.setGain(kInf);
    osc.setSamplerate(0.0f);
    osc.setSamplerate(-48000.0f);
    osc.setSamplerate(kNaN);
    osc.setTable(nullptr, 8192);
    osc.setTable(SineOscillator::wave, 0);
    EXPECT_EQ(run(osc, 500), run(reference, 500));
}

TEST(SineOscillator, AnyTableLengthIsIndexedInRange) {
    SineOscillator osc;
    std::vector<float> small = {-1.0f, 0.0f, 1.0f}; // not a power of two
    osc.setTable(small.data(), static_cast<long>(small.size()));
    EXPECT_EQ(osc.lobits, 23);
    osc.setFrequency(997.0f);
    bool sawTop = false;
    for (float v : run(osc, 20000)) {
        ASSERT_TRUE(v == 0.0f || v == 0.5f || v == 1.0f) << v;
        sawTop = sawTop || v == 1.0f;
    }
    EXPECT_FALSE(sawTop); // phase >> 23 only reaches entries 0 and 1

    std::vector<float> big(1024);
    osc.setTable(big.data(), 1024);
    EXPECT_EQ(osc.lobits, 14);
}

TEST(SineOscillator, ExtremeRatesStayInRange) {
    SineOscillator osc;
    osc.setSamplerate(1e-30f);
    osc.setFrequency(3e38f);
    for (float v : run(osc, 100)) ASSERT_TRUE(v >= 0.0f && v <= 1.0f);
}

TEST(AllPassDelay, ZeroCoefficientDelaysByOneSample) {
    CPhaser::AllPassDelay section;
    const auto in = testkit::noise(64, 3);
    float previous = 0.0f;
    for (float x : in) {
        EXPECT_EQ(section.processSample(x), previous);
        previous = x;
    }
}

TEST(AllPassDelay, MagnitudeIsFlatForAnyCoefficient) {
    for (float a : {0.5f, -0.7f, 0.95f}) {
        CPhaser::AllPassDelay section;
        section.phase = a;
        std::vector<std::complex<double>> response(1024);
        for (std::size_t i = 0; i < response.size(); ++i)
            response[i] = section.processSample(i == 0 ? 1.0f : 0.0f);
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
    EXPECT_EQ(phaser.fFrequency, 44100.0f);
    phaser.setFrequency(kNaN);
    EXPECT_EQ(phaser.fFrequency, 44100.0f);
    EXPECT_EQ(phaser.oscillator.fFrequency, 44100.0f);

    phaser.setPhase(1.5f);
    EXPECT_EQ(phaser.fPhase, 1.0f);
    phaser.setPhase(-2.0f);
    EXPECT_EQ(phaser.fPhase, 0.0f);
    phaser.setPhase(0.25f);
    phaser.setPhase(kNaN);
    EXPECT_EQ(phaser.fPhase, 0.25f);
    EXPECT_EQ(phaser.oscillator.phase, 16777216 / 4);

    phaser.setSamplerate(96000.0f);
    phaser.setSamplerate(kNaN);
    phaser.setSamplerate(0.0f);
    EXPECT_EQ(phaser.fSamplerate, 96000.0f);
    EXPECT_EQ(phaser.oscillator.fSamplerate, 96000.0f);
}

TEST(CPhaser, StageCountOutsideOneToEightLeavesOutputUntouched) {
    auto phaser = testkit::makeHeap<CPhaser>();
    const auto in = testkit::noise(256, 5);
    for (long stages : {0L, 9L, -1L}) {
        phaser->lNumStages = stages;
        std::vector<float> out(in.size(), 0.25f);
        phaser->processBuffer(in.data(), out.data(), static_cast<long>(out.size()));
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == 0.25f; }));
    }
}

TEST(CPhaser, NotchesMoveWithTheLfo) {
    auto phaser = testkit::makeHeap<CPhaser>();
    // LFO at its trough: coefficient 0, eight sections are an eight-sample
    // delay and the first notch sits at fs / 16.
    EXPECT_NEAR(notchFrequency(*phaser, 0.75f), 44100.0 / 16.0, 30.0);
    // LFO at its crest: coefficient 0.3 drags the notch far down.
    const double low = notchFrequency(*phaser, 0.25f);
    EXPECT_GT(low, 1200.0);
    EXPECT_LT(low, 1800.0);
}

TEST(CPhaser, SingleSectionFormMixesDryAndAllPass) {
    auto phaser = testkit::makeHeap<CPhaser>();
    phaser->fFeedback = 0.0f;
    phaser->fMix = 1.0f;
    phaser->oscillator.setFrequency(0.0f);
    phaser->oscillator.setPhase(0.75f); // coefficient 0: pure one-sample delay
    const auto in = testkit::noise(100, 9);
    float previous = 0.0f;
    for (float x : in) {
        EXPECT_EQ(phaser->processSample(x), previous);
        previous = x;
    }
    phaser->fMix = 0.0f;
    for (float x : in) EXPECT_EQ(phaser->processSample(x), x);
}

TEST(CPhaser, DecayingFeedbackEndsInExactZerosInBothForms) {
    auto phaser = testkit::makeHeap<CPhaser>();
    auto in = testkit::impulse(48000);
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
    for (const auto& s : phaser->stage) EXPECT_EQ(s.zm, 0.0f);
    EXPECT_EQ(phaser->zm, 0.0f);
}

TEST(CPhaser, ResetRestoresDefaultsAndSilence) {
    auto phaser = testkit::makeHeap<CPhaser>();
    phaser->fDepth = 1.0f;
    phaser->fFeedback = 0.1f;
    phaser->fMix = 0.9f;
    phaser->lNumStages = 2;
    phaser->setFrequency(5.0f);
    phaser->setPhase(0.5f);
    const auto in = testkit::noise(1000, 11);
    std::vector<float> out(in.size(), 0.0f);
    phaser->processBuffer(in.data(), out.data(), static_cast<long>(in.size()));

    phaser->reset();
    EXPECT_EQ(phaser->fDepth, 0.5f);
    EXPECT_EQ(phaser->fFeedback, 0.8f);
    EXPECT_EQ(phaser->fFrequency, 0.125f);
    EXPECT_EQ(phaser->fMix, 0.5f);
    EXPECT_EQ(phaser->fPhase, 0.0f);
    EXPECT_EQ(phaser->lNumStages, 8);
    EXPECT_EQ(phaser->oscillator.phase, 0);
    std::vector<float> silence(256, 0.0f);
    phaser->processBuffer(silence.data(), silence.data(), 256);
    EXPECT_EQ(testkit::peakAbs(silence.data(), silence.size()), 0.0f);
}

TEST(CPhaser, ClearDropsNaNStateButKeepsSettings) {
    auto phaser = testkit::makeHeap<CPhaser>();
    phaser->fMix = 1.0f;
    phaser->processSample(kNaN);
    EXPECT_TRUE(std::isnan(phaser->processSample(0.0f)));
    phaser->clear();
    EXPECT_EQ(phaser->fMix, 1.0f);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(phaser->processSample(0.0f), 0.0f);
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
