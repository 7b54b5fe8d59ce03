#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <vector>

#include "dsp/FFTProcessors.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/Heap.h"
#include "tests/support/Signals.h"
#include "tests/support/FrequencyMeasures.h"
#include "tests/support/Subnormals.h"

using SPECTRO::ChromaticFilter;
using SPECTRO::ChromaticPitch;
using SPECTRO::CrossModulator;
using SPECTRO::SuperSpectro;

namespace {

constexpr float kRate = 48000.0f;
constexpr int kBlock = 512;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// The analyser base prints a load line; keep it out of the test log.
template <class P> std::unique_ptr<P> make(int size = 1024, int overlap = 4) {
    testing::internal::CaptureStdout();
    auto p = testkit::makeHeap<P>(size, overlap, kRate);
    testing::internal::GetCapturedStdout();
    return p;
}

int blockAt(std::size_t at, std::size_t size) {
    return static_cast<int>(std::min<std::size_t>(kBlock, size - at));
}

// Runs a signal through in place, a block at a time.
template <class P> void runInPlace(P& p, std::vector<float>& signal) {
    for (std::size_t at = 0; at < signal.size(); at += kBlock)
        p.process(signal.data() + at, blockAt(at, signal.size()));
}

template <class P> std::vector<float> run(P& p, std::vector<float> signal) {
    runInPlace(p, signal);
    return signal;
}

// The carrier is replaced by the result.
void crossInPlace(CrossModulator& p, std::vector<float>& modulator, std::vector<float>& carrier) {
    for (std::size_t at = 0; at < carrier.size(); at += kBlock)
        p.process(modulator.data() + at, carrier.data() + at, blockAt(at, carrier.size()));
}

std::vector<float> cross(CrossModulator& p, std::vector<float> modulator, std::vector<float> carrier) {
    crossInPlace(p, modulator, carrier);
    return carrier;
}

std::vector<float> tail(const std::vector<float>& v, std::size_t from) {
    return {v.begin() + static_cast<long>(from), v.end()};
}

std::vector<float> mix(const std::vector<float>& a, const std::vector<float>& b) {
    std::vector<float> m = a;
    for (std::size_t i = 0; i < m.size(); ++i) m[i] += b[i];
    return m;
}

double db(double ratio) { return 10.0 * std::log10(ratio); }

// Energy of a band of the output relative to the same band of the input.
double bandGainDb(const std::vector<float>& in, const std::vector<float>& out, double lo, double hi) {
    return db(testkit::bandEnergy(out, kRate, lo, hi) / testkit::bandEnergy(in, kRate, lo, hi));
}

constexpr std::size_t kSettled = 4 * 4096;
constexpr std::size_t kLength = kSettled + 8192;

} // namespace

// --- ChromaticFilter -------------------------------------------------------

TEST(ChromaticFilter, UnityGainsPassTheSignalAfterTheFifoLatencyWithoutAllocating) {
    auto filter = make<ChromaticFilter>();
    const auto in = testkit::noise(kLength, 5, 0.5f);
    auto out = in;
    std::size_t allocations = 0;
    {
        testkit::AllocationCounter counter;
        filter->process(nullptr, kBlock);
        runInPlace(*filter, out);
        allocations = counter.count();
    }
    EXPECT_EQ(allocations, 0u);
    const auto delay = static_cast<std::size_t>(filter->getDelay());
    EXPECT_EQ(delay, 1024u);
    for (std::size_t i = 0; i < delay; ++i) ASSERT_NEAR(out[i], 0.0f, 1e-6f) << i;
    // Hann analysis and synthesis at overlap 4 add up to 1.5 everywhere.
    for (std::size_t i = 2 * delay; i < out.size(); ++i)
        ASSERT_NEAR(out[i], 1.5f * in[i - delay], 1e-4f) << i;
}

TEST(ChromaticFilter, ANoteWithGainZeroIsRemovedAndTheOthersStay) {
    auto filter = make<ChromaticFilter>();
    filter->setChromaticFilterBand(69, 0.0f); // A4, 440 Hz
    const auto in =
        mix(testkit::sine(440.0, kRate, kLength, 0.5f), testkit::sine(1000.0, kRate, kLength, 0.5f));
    const auto out = tail(run(*filter, in), kSettled);
    const auto ref = tail(in, kSettled);
    EXPECT_LT(bandGainDb(ref, out, 420.0, 460.0), -45.0);
    EXPECT_NEAR(bandGainDb(ref, out, 980.0, 1020.0), db(1.5 * 1.5), 1.0);
}

TEST(ChromaticFilter, RangeKeepsOrRemovesTheNotesBetweenItsEnds) {
    const auto in =
        mix(testkit::sine(440.0, kRate, kLength, 0.5f), testkit::sine(1000.0, kRate, kLength, 0.5f));
    const auto ref = tail(in, kSettled);
    for (bool inverted : {false, true}) {
        auto filter = make<ChromaticFilter>();
        filter->setInverted(inverted);
        filter->setChromaticFilterRange(60, 75, 1.0f); // 440 Hz inside, 1000 Hz (note 83) outside
        const auto out = tail(run(*filter, in), kSettled);
        const double at440 = bandGainDb(ref, out, 420.0, 460.0);
        const double at1000 = bandGainDb(ref, out, 980.0, 1020.0);
        EXPECT_LT(inverted ? at440 : at1000, -45.0) << inverted;
        EXPECT_GT(inverted ? at1000 : at440, 0.0) << inverted;
    }
}

TEST(ChromaticFilter, BandSettersFollowTheirCurvesAndIgnoreBadInput) {
    auto filter = make<ChromaticFilter>();
    filter->setChromaticFilterBand(69, 0.25f);
    EXPECT_FLOAT_EQ(filter->getToneGain(72), 0.5f);
    filter->setChromaticFilterBand(69, 1.0f); // 2, squared
    EXPECT_FLOAT_EQ(filter->getToneGain(72), 4.0f);
    filter->setChromaticFilterBand2(69, 3.0f);
    EXPECT_FLOAT_EQ(filter->getToneGain(72), 3.0f);
    filter->setChromaticFilterBand2(-3, 0.7f); // the lowest tone
    EXPECT_FLOAT_EQ(filter->getToneGain(0), 0.7f);

    for (int note : {-4, 137, INT_MIN, INT_MAX}) {
        filter->setChromaticFilterBand(note, 0.0f);
        filter->setChromaticFilterBand2(note, 0.0f);
    }
    filter->setChromaticFilterBand(69, kNaN);
    filter->setChromaticFilterBand2(69, std::numeric_limits<float>::infinity());
    EXPECT_FLOAT_EQ(filter->getToneGain(72), 3.0f);
    for (int t = 1; t < 140; ++t) EXPECT_FLOAT_EQ(filter->getToneGain(t), t == 72 ? 3.0f : 1.0f) << t;

    // Indexed by tone; only the MIDI tones take values, the rest the outside gain.
    std::vector<float> values(140, 0.25f);
    filter->setChromaticFilterBands(values.data(), 0.1f);
    EXPECT_FLOAT_EQ(filter->getToneGain(3), 0.5f);
    EXPECT_FLOAT_EQ(filter->getToneGain(130), 0.5f);
    for (int t : {0, 1, 2, 131, 139}) EXPECT_FLOAT_EQ(filter->getToneGain(t), 0.1f) << t;
    filter->setChromaticFilterBands(nullptr, 0.2f);
    EXPECT_FLOAT_EQ(filter->getToneGain(72), 0.5f);
    EXPECT_FLOAT_EQ(filter->getToneGain(131), 0.2f);
    EXPECT_EQ(filter->getToneGain(-1), 0.0f);
    EXPECT_EQ(filter->getToneGain(140), 0.0f);
}

TEST(ChromaticFilter, WithoutABinMapTheFramesPassUnchanged) {
    auto filter = make<ChromaticFilter>();
    filter->setChromaticFilterBand(69, 0.0f);
    filter->setChromatic(false);
    const auto in = testkit::sine(440.0, kRate, kLength, 0.5f);
    const auto out = tail(run(*filter, in), kSettled);
    EXPECT_NEAR(bandGainDb(tail(in, kSettled), out, 420.0, 460.0), db(1.5 * 1.5), 0.1);
}

// --- CrossModulator --------------------------------------------------------

TEST(CrossModulator, ImposesTheModulatorsSpectrumOnTheCarrier) {
    const auto carrier = testkit::noise(kLength, 9, 0.5f);
    for (double tone : {1000.0, 3100.0}) {
        auto cm = make<CrossModulator>();
        const auto out = tail(cross(*cm, testkit::sine(tone, kRate, kLength, 0.5f), carrier), kSettled);
        const double near = testkit::bandEnergy(out, kRate, tone - 100.0, tone + 100.0);
        const double below = testkit::bandEnergy(out, kRate, 20.0, tone - 300.0);
        const double above = testkit::bandEnergy(out, kRate, tone + 300.0, 20000.0);
        EXPECT_GT(db(near / below), 30.0) << tone;
        EXPECT_GT(db(near / above), 30.0) << tone;
        EXPECT_NEAR(testkit::peakFrequency(out, kRate), tone, 50.0);
    }
}

TEST(CrossModulator, OnlyNotesInTheRangeLetTheCarrierThrough) {
    const auto carrier = testkit::noise(kLength, 9, 0.5f);
    const auto modulator = testkit::sine(1000.0, kRate, kLength, 0.5f); // note 83
    auto level = [&](int from, int to, float amount) {
        auto cm = make<CrossModulator>();
        cm->setRange(from, to);
        cm->setAmount(amount);
        return testkit::rms(tail(cross(*cm, modulator, carrier), kSettled).data(), kLength - kSettled);
    };
    const double full = level(0, 128, 1.0f);
    EXPECT_GT(full, 0.1);
    EXPECT_NEAR(level(83, 84, 1.0f), full, full * 1e-3);
    EXPECT_NEAR(level(0, 128, 0.5f), 0.5 * full, full * 1e-3);
    // Without the tone's own note only the weaker notes of its skirts are left.
    EXPECT_LT(level(0, 83, 1.0f), 0.1 * full);
    EXPECT_LT(level(84, 128, 1.0f), 0.1 * full);
    EXPECT_EQ(level(0, 128, 0.0f), 0.0);
}

TEST(CrossModulator, SilenceInSilenceOutAndBadInputIsIgnored) {
    auto cm = make<CrossModulator>();
    cm->setAmount(kNaN);
    EXPECT_EQ(cm->getAmount(), 1.0f);
    std::vector<float> carrier = testkit::noise(kLength, 2);
    cm->process(nullptr, carrier.data(), kBlock);
    cm->process(carrier.data(), nullptr, kBlock);
    cm->process(carrier.data(), 0); // the mono entry has nothing to modulate
    const auto out = cross(*cm, std::vector<float>(kLength, 0.0f), carrier);
    EXPECT_EQ(testkit::peakAbs(out.data(), out.size()), 0.0f);
}

TEST(CrossModulator, ResetForgetsTheCarrierAndProcessingAllocatesNothing) {
    auto cm = make<CrossModulator>();
    auto modulator = testkit::sine(1000.0, kRate, kLength, 0.5f);
    cross(*cm, modulator, testkit::noise(kLength, 4));
    cm->reset();
    std::vector<float> out(kLength, 0.0f);
    std::size_t allocations = 0;
    {
        testkit::AllocationCounter counter;
        crossInPlace(*cm, modulator, out);
        allocations = counter.count();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(testkit::peakAbs(out.data(), out.size()), 0.0f);
}

// --- ChromaticPitch --------------------------------------------------------

TEST(ChromaticPitch, ARatioOnANoteMovesThatNoteAndLeavesTheOthers) {
    const double bin = kRate / 4096.0;
    const std::size_t settled = 4 * 4096;
    auto measure = [&](ChromaticPitch& pitch, double frequency) {
        return tail(run(pitch, testkit::sine(frequency, kRate, settled + 16384, 0.5f)), settled);
    };
    for (float ratio : {2.0f, 0.5f}) {
        auto pitch = make<ChromaticPitch>(4096, 4);
        pitch->setChromaticPitch(69, ratio, 1.0f);
        const auto moved = measure(*pitch, 440.0);
        const double to = 440.0 * ratio;
        EXPECT_NEAR(testkit::peakFrequency(moved, kRate), to, bin) << ratio;
        const double left = testkit::bandEnergy(moved, kRate, 400.0, 480.0);
        EXPECT_LT(db(left / testkit::bandEnergy(moved, kRate, to - 40.0, to + 40.0)), -30.0) << ratio;

        pitch->reset();
        EXPECT_NEAR(testkit::peakFrequency(measure(*pitch, 1000.0), kRate), 1000.0, bin) << ratio;
    }
}

TEST(ChromaticPitch, GainModesAndPlainResynthesis) {
    const auto in =
        mix(testkit::sine(440.0, kRate, kLength, 0.5f), testkit::sine(1000.0, kRate, kLength, 0.5f));
    const auto ref = tail(in, kSettled);
    for (int mode : {ChromaticPitch::kGain, ChromaticPitch::kFilter, ChromaticPitch::kResynthesis}) {
        auto pitch = make<ChromaticPitch>();
        pitch->setMode(mode);
        EXPECT_EQ(pitch->getMode(), mode);
        pitch->setChromaticFilterBand(69, 0.0f);
        const auto out = tail(run(*pitch, in), kSettled);
        const double at440 = bandGainDb(ref, out, 420.0, 460.0);
        if (mode == ChromaticPitch::kResynthesis) {
            EXPECT_NEAR(at440, db(1.5 * 1.5), 0.1);
        } else {
            EXPECT_LT(at440, -45.0) << mode;
        }
        EXPECT_NEAR(bandGainDb(ref, out, 980.0, 1020.0), db(1.5 * 1.5), 1.0) << mode;
    }
}

TEST(ChromaticPitch, RangeSilencesTheRatiosOutsideIt) {
    auto pitch = make<ChromaticPitch>();
    pitch->setChromaticFilterRange(0, 60, 0.0f);
    EXPECT_EQ(pitch->getTonePitch(72), 0.0f);
    EXPECT_EQ(pitch->getTonePitch(63), 1.0f);
    EXPECT_EQ(pitch->getToneGain(72), 0.0f);
    EXPECT_EQ(pitch->getTonePitch(139), 0.0f);
    const auto in =
        mix(testkit::sine(440.0, kRate, kLength, 0.5f), testkit::sine(200.0, kRate, kLength, 0.5f));
    // Shifting by ratios, the gains kept at 1 would not matter.
    pitch->setChromaticFilterBand2(69, 1.0f);
    const auto out = tail(run(*pitch, in), kSettled);
    const auto ref = tail(in, kSettled);
    EXPECT_LT(bandGainDb(ref, out, 420.0, 460.0), -45.0);
    EXPECT_GT(bandGainDb(ref, out, 190.0, 210.0), 0.0);
}

TEST(ChromaticPitch, RatioSettersFollowTheirCurvesAndIgnoreBadInput) {
    auto pitch = make<ChromaticPitch>();
    pitch->setChromaticPitch(69, 0.75f, 2.0f);
    EXPECT_FLOAT_EQ(pitch->getTonePitch(72), 1.5f);
    pitch->setChromaticPitch(69, -0.5f, 4.0f);
    EXPECT_FLOAT_EQ(pitch->getTonePitch(72), 0.75f);
    pitch->setChromaticPitch(69, 0.0f, 4.0f);
    EXPECT_FLOAT_EQ(pitch->getTonePitch(72), 1.0f);

    pitch->setChromaticPitch(69, 2.0f, 1.0f);
    pitch->setChromaticPitch(69, -0.5f, 0.0f); // 1 / 0
    pitch->setChromaticPitch(69, kNaN, 1.0f);
    pitch->setChromaticPitch(69, 1.0f, kNaN);
    for (int note : {-4, 137, INT_MIN, INT_MAX}) pitch->setChromaticPitch(note, 3.0f, 1.0f);
    EXPECT_FLOAT_EQ(pitch->getTonePitch(72), 2.0f);
    for (int t = 0; t < 140; ++t) EXPECT_FLOAT_EQ(pitch->getTonePitch(t), t == 72 ? 2.0f : 1.0f) << t;

    std::vector<float> values(140, 0.5f);
    pitch->setChromaticPitches(values.data(), 3.0f);
    EXPECT_FLOAT_EQ(pitch->getTonePitch(3), 1.5f);
    EXPECT_FLOAT_EQ(pitch->getTonePitch(130), 1.5f);
    EXPECT_FLOAT_EQ(pitch->getTonePitch(131), 1.0f);
    pitch->setChromaticPitches(nullptr, 3.0f);
    pitch->setOutsideRange(0.25f);
    EXPECT_FLOAT_EQ(pitch->getTonePitch(2), 0.25f);
    EXPECT_FLOAT_EQ(pitch->getToneGain(2), 0.25f);
    EXPECT_FLOAT_EQ(pitch->getTonePitch(72), 1.5f);
}

TEST(ChromaticPitch, SynthesisPhasesStayWrappedAndResetClearsThem) {
    auto pitch = make<ChromaticPitch>();
    pitch->setChromaticPitch(69, 1.5f, 1.0f);
    pitch->setChromaticPitch(81, 0.5f, 1.0f);
    auto out =
        mix(testkit::sine(440.0, kRate, 6 * 48000, 0.5f), testkit::sine(880.0, kRate, 6 * 48000, 0.3f));
    std::size_t allocations = 0;
    {
        testkit::AllocationCounter counter;
        runInPlace(*pitch, out);
        allocations = counter.count();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_TRUE(testkit::allFinite(out.data(), out.size()));
    const float* phases = pitch->getSynthesisPhases();
    for (int k = 0; k <= 512; ++k) {
        ASSERT_GE(phases[k], -std::numbers::pi_v<float>) << k;
        ASSERT_LT(phases[k], std::numbers::pi_v<float>) << k;
    }
    // The last second still carries the shifted tone as loud as the first.
    const std::size_t second = 48000;
    const double early = testkit::rms(out.data() + second, second);
    const double late = testkit::rms(out.data() + out.size() - second, second);
    EXPECT_NEAR(late, early, 0.02 * early);

    pitch->reset();
    for (int k = 0; k <= 512; ++k) ASSERT_EQ(phases[k], 0.0f) << k;
}

// --- SuperSpectro ----------------------------------------------------------

TEST(SuperSpectro, PassesAToneInsideTheBankAndNotOneFarOutside) {
    const std::size_t length = 16 * 1024;
    const std::size_t settled = 4 * 1024;
    auto inside = make<SuperSpectro>(1024, 2);
    const auto in = testkit::sine(440.0, kRate, length, 0.5f);
    const auto out = tail(run(*inside, in), settled);
    EXPECT_GT(testkit::rms(out.data(), out.size()), 0.01);
    EXPECT_NEAR(testkit::peakFrequency(out, kRate), 440.0, 50.0);

    auto outside = make<SuperSpectro>(1024, 2);
    const auto far = tail(run(*outside, testkit::sine(5000.0, kRate, length, 0.5f)), settled);
    EXPECT_LT(testkit::rms(far.data(), far.size()), 1e-4 * testkit::rms(out.data(), out.size()));
}

TEST(SuperSpectro, WaveletPeaksAtItsCentreBin) {
    // Centre 8 bins: the peak is pi^-1/4 sqrt(2 pi) sqrt(f c).
    const double peak =
        std::pow(std::numbers::pi, -0.25) * std::sqrt(2.0 * std::numbers::pi) * std::sqrt(1.25);
    EXPECT_NEAR(SuperSpectro::wavelet(8, 0.125f, 10.0f), peak, 1e-5);
    EXPECT_LT(SuperSpectro::wavelet(7, 0.125f, 10.0f), 1e-3 * peak);
    EXPECT_LT(SuperSpectro::wavelet(9, 0.125f, 10.0f), 1e-3 * peak);
}

TEST(SuperSpectro, LowRatesNullBuffersAndAllocation) {
    auto ss = make<SuperSpectro>(256, 2);
    ss->process(nullptr, kBlock);
    ss->setSamplerate(200.0f); // no band fits
    auto out = testkit::noise(8 * kBlock, 6);
    std::size_t allocations = 0;
    {
        testkit::AllocationCounter counter;
        runInPlace(*ss, out);
        allocations = counter.count();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(testkit::peakAbs(out.data(), out.size()), 0.0f);
}
