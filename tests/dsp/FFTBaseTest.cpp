#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <utility>
#include <vector>

#include "dsp/DynaBuffer.h"
#include "dsp/FFTBase.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/FrequencyMeasures.h"
#include "tests/support/Heap.h"
#include "tests/support/LaneWidths.h"
#include "tests/support/SameBits.h"
#include "tests/support/Signals.h"
#include "tests/support/Subnormals.h"

namespace {

using cvec = std::vector<std::complex<double>>;

// Streams through the framework and resynthesises every frame. With
// `vocoder` set the spectrum goes through the frequency estimate and the
// phase-vocoder resynthesis (own accumulator); otherwise it is inverted as is.
class Probe : public SPECTRO::FFTBase {
public:
    Probe(int size, int overlap, bool vocoder = false)
        : FFTBase(size, overlap, 48000.0f), vocoder_(vocoder), synthesis_(size / 2 + 1) {}

    void process(float* buffer, int n) noexcept override {
        if (!canStream()) return;
        for (int i = 0; i < n; ++i) buffer[i] = stream(buffer[i]);
    }
    void onBufferReady() override {
        buffer2complex(nullptr, nullptr);
        if (vocoder_) {
            complex2frequencies(nullptr);
            frequencies2complex(nullptr, nullptr, synthesis_.getBuffer(), nullptr);
            // Only the positive half is rebuilt; the overlap-add doubles it.
            for (int k = fftFrameSize + 2; k < _2fftFrameSize; ++k) complex[k] = 0.0f;
        }
        complex2buffer(nullptr, nullptr);
    }

    // Transforms `data` (interleaved) with the object's own tables.
    std::vector<float> transform(int sign, std::vector<float> data) {
        fft(sign, data.data());
        return data;
    }

    // The phase and polar steps one bin at a time, the plain way.
    void perBinSynthesis(const float* mags, const float* freqs, float* acc, float* c) const {
        const float radiansPerBin =
            SPECTRO::kTwoPi / (static_cast<float>(fftFrameSize) / static_cast<float>(stepSize));
        for (int k = 0; k <= fftFrameSize2; ++k) {
            const float binFreq = static_cast<float>(k) * freqPerBin;
            const float advance =
                radiansPerBin * ((freqs[k] - binFreq) / freqPerBin) + static_cast<float>(k) * expct;
            acc[k] = SPECTRO::wrapPhase(acc[k] + advance);
        }
        SPECTRO::polarToComplex(mags, acc, c, fftFrameSize2 + 1);
    }

    float level() const { return max; }
    int frameSize() const { return fftFrameSize; }
    float* windowData() const { return window.getBuffer(); }
    int allocatedInput() const { return input.getSize(); }

private:
    bool vocoder_;
    DynaBuffer synthesis_;
};

std::vector<float> randomInterleaved(int n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> v(2 * static_cast<std::size_t>(n));
    for (auto& x : v) x = dist(rng);
    return v;
}

cvec toComplex(const std::vector<float>& v) {
    cvec c(v.size() / 2);
    for (std::size_t i = 0; i < c.size(); ++i) c[i] = {v[2 * i], v[2 * i + 1]};
    return c;
}

double maxDistance(const cvec& a, const cvec& b) {
    double d = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) d = std::max(d, std::abs(a[i] - b[i]));
    return d;
}

int firstIndexAbove(const std::vector<float>& v, float threshold) {
    for (std::size_t i = 0; i < v.size(); ++i)
        if (std::fabs(v[i]) > threshold) return static_cast<int>(i);
    return -1;
}

} // namespace

TEST(DynaBuffer, GrowsAlignedAndZeroedAndShrinksOnlyThroughReadjust) {
    DynaBuffer buffer(5);
    ASSERT_EQ(buffer.getSize(), 5);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.getBuffer()) % 16, 0u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(buffer[i], 0.0f);

    buffer[4] = 3.0f;
    float* before = buffer.allocate(2);
    EXPECT_EQ(buffer.getSize(), 5);
    EXPECT_EQ(before, buffer.getBuffer());
    EXPECT_EQ(buffer[4], 3.0f);

    buffer.ensure(64);
    EXPECT_EQ(buffer.getSize(), 64);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.getBuffer()) % 16, 0u);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(buffer[i], 0.0f);

    buffer.allocate(0);
    EXPECT_EQ(buffer.getSize(), 0);
    EXPECT_EQ(buffer.getBuffer(), nullptr);
    buffer.allocate(-3);
    EXPECT_EQ(buffer.getSize(), 0);

    // readjust() sizes exactly, also downwards, and zeroes.
    buffer.allocate(8);
    buffer[1] = 1.0f;
    buffer.readjust(3);
    ASSERT_EQ(buffer.getSize(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(buffer[i], 0.0f);
    buffer[2] = 2.0f;
    buffer.readjust(3);
    EXPECT_EQ(buffer[2], 2.0f);
    buffer.readjust(0);
    EXPECT_EQ(buffer.getBuffer(), nullptr);
}

TEST(FFTBase, ForwardAndInverseMatchPlainDftForAllSizes) {
    for (int n = 2; n <= 4096; n *= 2) {
        SCOPED_TRACE(n);
        Probe probe(n, 4);
        const auto data = randomInterleaved(n, static_cast<std::uint32_t>(n));
        const cvec reference = testkit::dft(toComplex(data));
        // Relative to the spectrum's size, rounding grows with log2(n).
        const double tolerance = 2e-6 * std::sqrt(static_cast<double>(n)) * std::log2(n);
        EXPECT_LT(maxDistance(toComplex(probe.transform(-1, data)), reference), tolerance);

        // The inverse is the forward transform of the conjugate, conjugated.
        cvec conjugated = toComplex(data);
        for (auto& c : conjugated) c = std::conj(c);
        cvec inverse = testkit::dft(conjugated);
        for (auto& c : inverse) c = std::conj(c);
        EXPECT_LT(maxDistance(toComplex(probe.transform(1, data)), inverse), tolerance);
    }
}

// A real frame takes the half-size route; every bin, the mirrored upper half
// included, must still be the full transform's.
TEST(FFTBase, WindowedRealFrameMatchesPlainDftForAllSizes) {
    for (int n = 2; n <= 4096; n *= 2) {
        SCOPED_TRACE(n);
        Probe probe(n, 4);
        const auto samples = randomInterleaved(n / 2, static_cast<std::uint32_t>(n + 1));
        cvec windowed(static_cast<std::size_t>(n));
        for (int k = 0; k < n; ++k) windowed[k] = double(samples[k]) * double(probe.windowData()[k]);
        const cvec reference = testkit::dft(windowed);
        std::vector<float> src = samples, spectrum(2 * static_cast<std::size_t>(n) + 2, 7.0f);
        probe.buffer2complex(src.data(), spectrum.data());
        spectrum.resize(2 * static_cast<std::size_t>(n));
        const double tolerance = 2e-6 * std::sqrt(static_cast<double>(n)) * std::log2(n);
        EXPECT_LT(maxDistance(toComplex(spectrum), reference), tolerance);
        // The lowest and the middle bin of a real frame are real.
        EXPECT_EQ(spectrum[1], 0.0f);
        EXPECT_EQ(spectrum[n + 1], 0.0f);
        EXPECT_EQ(src, samples);
    }
}

// The passes four and eight lanes wide give the same values bit for bit.
TEST(FFTBase, EveryLaneWidthTransformsBitForBit) {
    for (int size = 2; size <= 4096; size *= 2) {
        SCOPED_TRACE(size);
        Probe probe(size, 4);
        const std::vector<float> data = randomInterleaved(size, static_cast<std::uint32_t>(size));
        std::vector<float> frame(data.begin(), data.begin() + size);
        std::vector<std::vector<float>> results;
        testkit::forEachLaneWidth([&](VectorMath::LaneWidth) {
            std::vector<float> spectrum(2 * (static_cast<std::size_t>(size) + 1));
            probe.buffer2complex(frame.data(), spectrum.data());
            results.push_back(spectrum);
            results.push_back(probe.transform(-1, data));
            results.push_back(probe.transform(1, data));
        });
        for (std::size_t i = 3; i < results.size(); ++i)
            EXPECT_TRUE(testkit::sameBits(results[i], results[i % 3]));
    }
}

TEST(FFTBase, ForwardThenInverseGivesNTimesTheInput) {
    for (int n : {8, 256, 4096}) {
        Probe probe(n, 4);
        const auto data = randomInterleaved(n, 99);
        const auto back = probe.transform(1, probe.transform(-1, data));
        double worst = 0.0;
        for (std::size_t i = 0; i < data.size(); ++i)
            worst = std::max(worst, std::fabs(back[i] / static_cast<double>(n) - data[i]));
        EXPECT_LT(worst, 1e-5) << n;
    }
}

TEST(FFTBase, CosineAtBinKLandsInBinsKAndNMinusK) {
    const int n = 1024;
    Probe probe(n, 4);
    for (int k : {1, 37, 200, 511}) {
        std::vector<float> data(2 * n, 0.0f);
        for (int t = 0; t < n; ++t)
            data[2 * t] = static_cast<float>(std::cos(2.0 * std::numbers::pi * k * t / n));
        const auto spectrum = probe.transform(-1, data);
        for (int b = 0; b < n; ++b) {
            const double magnitude = std::hypot(spectrum[2 * b], spectrum[2 * b + 1]);
            const double expected = (b == k || b == n - k) ? n / 2.0 : 0.0;
            EXPECT_NEAR(magnitude, expected, 2e-3) << "k " << k << " bin " << b;
        }
    }
}

TEST(FFTBase, LayoutFollowsSizeAndOverlapAndKeepsLargerAllocations) {
    Probe probe(4096, 2);
    EXPECT_EQ(probe.getStepSize(), 2048);
    EXPECT_EQ(probe.getFifoLatency(), 2048);
    const float* window = probe.windowData();

    probe.setSize(1024);
    EXPECT_EQ(probe.getSize(), 1024);
    EXPECT_EQ(probe.getStepSize(), 512);
    EXPECT_EQ(probe.getFifoLatency(), 512);
    EXPECT_EQ(probe.allocatedInput(), 4096);
    EXPECT_EQ(probe.windowData(), window);
    // Periodic Hann over the new frame: zero at 0, one at the middle.
    EXPECT_EQ(probe.windowData()[0], 0.0f);
    EXPECT_FLOAT_EQ(probe.windowData()[512], 1.0f);
    EXPECT_FLOAT_EQ(probe.windowData()[256], 0.5f);

    probe.setOverlap(4);
    EXPECT_EQ(probe.getStepSize(), 256);
    probe.setOverlap(6);
    EXPECT_EQ(probe.getStepSize(), 170);
    EXPECT_EQ(probe.getFifoLatency(), 854);

    // Back and forth after the first growth costs no allocation.
    testkit::AllocationCounter counter;
    probe.setSize(4096);
    probe.setSize(1024);
    const auto allocations = counter.count();
    EXPECT_EQ(allocations, 0u);
}

TEST(FFTBase, BadSizesAndOverlapsAreIgnored) {
    Probe probe(1024, 4);
    for (int size : {0, -1024, 1000, 1, 3, 1 << 30}) {
        probe.setSize(size);
        EXPECT_EQ(probe.getSize(), 1024) << size;
    }
    for (int overlap : {0, -4, 1025}) {
        probe.setOverlap(overlap);
        EXPECT_EQ(probe.getOverlap(), 4) << overlap;
    }
    probe.setOverlap(1024);
    EXPECT_EQ(probe.getStepSize(), 1);
    // A smaller frame would make the overlap too large for it.
    probe.setSize(512);
    EXPECT_EQ(probe.getSize(), 1024);
    probe.setOverlap(4);
    EXPECT_EQ(probe.getStepSize(), 256);

    // Bad construction falls back to a working layout.
    Probe fallback(1000, 0);
    EXPECT_EQ(fallback.getSize(), 1024);
    EXPECT_EQ(fallback.getOverlap(), 4);
    auto impulse = testkit::impulse(4096, 10);
    fallback.process(impulse.data(), 4096);
    EXPECT_EQ(firstIndexAbove(impulse, 0.5f), 10 + 1024);

    probe.setSamplerate(0.0f);
    probe.setSamplerate(std::nanf(""));
    EXPECT_EQ(probe.getSamplerate(), 48000.0f);
}

// A sample leaves the FIFOs one full frame (FIFO latency plus one hop) after
// it went in, whatever the overlap; the Hann overlap-add gain is 1.5 from
// overlap 4 on.
TEST(FFTBase, ImpulseComesOutOneFrameLater) {
    for (bool vocoder : {false, true}) {
        for (int overlap : {2, 4, 6}) {
            SCOPED_TRACE(testing::Message() << "overlap " << overlap << " vocoder " << vocoder);
            Probe probe(1024, overlap, vocoder);
            const int at = 3000;
            auto signal = testkit::impulse(8192, at);
            probe.process(signal.data(), 8192);
            const int delay = probe.getFifoLatency() + probe.getStepSize();
            EXPECT_EQ(delay, 1024);
            EXPECT_EQ(probe.getDelay(), delay);
            int loudest = 0;
            for (int i = 0; i < 8192; ++i)
                if (std::fabs(signal[i]) > std::fabs(signal[loudest])) loudest = i;
            EXPECT_EQ(loudest, at + delay);
            if (!vocoder && overlap == 4) {
                EXPECT_NEAR(signal[loudest], 1.5f, 1e-4f);
            }
        }
    }
}

TEST(FFTBase, ShrinkingTheFrameForgetsTheOldFrameData) {
    Probe probe(4096, 4);
    auto noise = testkit::noise(20000, 3);
    probe.process(noise.data(), static_cast<int>(noise.size()));
    probe.setSize(1024);
    std::vector<float> silence(8192, 0.0f);
    probe.process(silence.data(), 8192);
    for (float s : silence) ASSERT_EQ(s, 0.0f);
}

TEST(FFTBase, PhaseVocoderFindsTheTrueFrequencyBetweenBins) {
    Probe probe(1024, 4, true);
    // 1000 Hz sits a third of the way between bins 21 and 22 (46.875 Hz each).
    auto sine = testkit::sine(1000.0, 48000.0, 16384);
    probe.process(sine.data(), 16384);
    EXPECT_NEAR(probe.getFrequencies(21), 1000.0f, 0.5f);
    EXPECT_NEAR(probe.getFrequencies(22), 1000.0f, 0.5f);
    // A bin-centre sine advances exactly by the expected phase per hop.
    Probe centred(1024, 4, true);
    auto onBin = testkit::sine(40 * 46.875, 48000.0, 16384);
    centred.process(onBin.data(), 16384);
    EXPECT_NEAR(centred.getFrequencies(40), 1875.0f, 0.05f);
    // And resynthesis reproduces it, delayed by one frame at 1.5 times the level.
    EXPECT_NEAR(onBin[16000],
                1.5f *
                    static_cast<float>(std::sin(2.0 * std::numbers::pi * 1875.0 * (16000 - 1024) / 48000.0)),
                0.01f);
}

// Each bin's phase step, less its expected advance, folded into one turn, gives
// the offset from the bin centre; bad phase memory must not leak into the result.
TEST(FFTBase, FrequencyEstimateFoldsEachBinsPhaseStep) {
    for (int overlap : {1, 4, 6}) {
        SCOPED_TRACE(overlap);
        Probe probe(64, overlap);
        const int bins = 33;
        const double hop = 64 / overlap;
        const double binWidth = 48000.0 / 64.0;
        std::mt19937 rng(static_cast<std::uint32_t>(overlap));
        std::uniform_real_distribution<double> angle(-3.1, 3.1);
        std::vector<float> c(2 * bins);
        std::vector<double> offset(bins);
        for (int k = 0; k < bins; ++k) {
            const double previous = angle(rng);
            offset[k] = angle(rng);
            const double now = previous + 2.0 * std::numbers::pi * k * hop / 64.0 + offset[k];
            probe.getPhases()[k] = static_cast<float>(previous);
            c[2 * k] = static_cast<float>(3.0 * std::cos(now));
            c[2 * k + 1] = static_cast<float>(3.0 * std::sin(now));
        }
        const float bad[] = {std::nanf(""), std::numeric_limits<float>::infinity(), 1.0e10f, -1.0e12f};
        for (int i = 0; i < 4; ++i) probe.getPhases()[29 + i] = bad[i];
        probe.complex2frequencies(c.data());
        for (int k = 0; k < 29; ++k) {
            const double expected = (k + offset[k] * (64.0 / hop) / (2.0 * std::numbers::pi)) * binWidth;
            EXPECT_NEAR(probe.getFrequencies(k), expected, 0.02) << k;
            EXPECT_NEAR(probe.getMagnitudes(k), 6.0f, 1e-5f) << k;
        }
        // Non-finite memory leaves the bin centre; a huge one at least stays finite.
        EXPECT_EQ(probe.getFrequencies(29), static_cast<float>(29 * binWidth));
        EXPECT_EQ(probe.getFrequencies(30), static_cast<float>(30 * binWidth));
        EXPECT_TRUE(std::isfinite(probe.getFrequencies(31)));
        EXPECT_TRUE(std::isfinite(probe.getFrequencies(32)));
        for (int k = 0; k < bins; ++k)
            EXPECT_NEAR(probe.getPhases(k), std::atan2(c[2 * k + 1], c[2 * k]), 1e-6f) << k;
    }
}

// Four bins at a time with a branch-free wrap: the per-bin rules bit for bit,
// over short last groups and through huge and non-finite values.
TEST(FFTBase, PhaseStepMatchesThePerBinRulesBitForBit) {
    const float freqSpecials[] = {std::nanf(""), std::numeric_limits<float>::infinity(), 1.0e12f, -4.0e9f};
    const float accSpecials[] = {std::nanf(""), 1.0e7f, -SPECTRO::kPi, SPECTRO::kPi};
    for (auto [size, overlap] : {std::pair{2, 1}, {8, 4}, {16, 6}, {64, 6}, {1024, 6}}) {
        SCOPED_TRACE(size);
        Probe probe(size, overlap);
        const int bins = size / 2 + 1;
        std::mt19937 rng(static_cast<std::uint32_t>(size));
        std::uniform_real_distribution<float> freq(-30000.0f, 30000.0f), angle(-3.2f, 3.2f), mag(0.0f, 2.0f);
        std::vector<float> mags(bins), freqs(bins), acc(bins);
        for (int k = 0; k < bins; ++k) {
            mags[k] = mag(rng);
            freqs[k] = freq(rng);
            acc[k] = angle(rng);
        }
        for (int j = 0; j < 4; ++j) {
            freqs[(7 * j + 1) % bins] = freqSpecials[j];
            acc[(5 * j + 3) % bins] = accSpecials[j];
        }
        std::vector<float> accGot = acc, cGot(2 * bins), cExpected(2 * bins);
        probe.frequencies2complex(mags.data(), freqs.data(), accGot.data(), cGot.data());
        probe.perBinSynthesis(mags.data(), freqs.data(), acc.data(), cExpected.data());
        EXPECT_TRUE(testkit::sameBits(accGot, acc));
        EXPECT_TRUE(testkit::sameBits(cGot, cExpected));
    }
}

TEST(FFTBase, NormalisationLevelDecaysAndPeaksHoldThenFall) {
    Probe probe(16, 4);
    std::vector<float> mags(9, 0.0f), freqs(9, 0.0f);
    mags[3] = 5.0f;
    probe.onAnalysis(freqs.data(), mags.data());
    EXPECT_FLOAT_EQ(probe.getMagnitudesNormalized(3), 1.0f);
    EXPECT_FLOAT_EQ(probe.level(), 4.99f);

    mags[3] = 0.0f;
    mags[4] = 2.0f;
    probe.onAnalysis(freqs.data(), mags.data());
    EXPECT_FLOAT_EQ(probe.level(), 4.98f);
    EXPECT_FLOAT_EQ(probe.getMagnitudesNormalized(4), 2.0f / 4.99f);
    EXPECT_FLOAT_EQ(probe.getMagnitudesPeaks(3), 0.93f);

    mags[4] = 0.0f;
    for (int frame = 0; frame < 2000; ++frame) probe.onAnalysis(freqs.data(), mags.data());
    // Never below 1.0 when it divides; peaks fall to an exact zero, not a subnormal.
    EXPECT_FLOAT_EQ(probe.level(), 0.99f);
    EXPECT_EQ(probe.getMagnitudesPeaks(3), 0.0f);
    EXPECT_EQ(testkit::countSubnormals(probe.getMagnitudesPeaks(), 9), 0u);
}

TEST(FFTBase, DefaultAccumulatorStaysWrappedAndStreamingAllocatesNothing) {
    class SharedPhases : public Probe {
    public:
        SharedPhases() : Probe(1024, 6) {}
        void onBufferReady() override {
            buffer2complex(nullptr, nullptr);
            complex2frequencies(nullptr);
            frequencies2complex(nullptr, nullptr, nullptr, nullptr);
            complex2buffer(nullptr, nullptr);
        }
    };
    auto probe = testkit::makeHeap<SharedPhases>();
    auto signal = testkit::noise(48000 * 4, 5);
    signal[1000] = std::nanf("");
    testkit::AllocationCounter counter;
    probe->process(signal.data(), static_cast<int>(signal.size()));
    const auto allocations = counter.count();
    EXPECT_EQ(allocations, 0u);
    for (int k = 0; k <= 512; ++k) {
        EXPECT_GE(probe->getPhases(k), -SPECTRO::kPi) << k;
        EXPECT_LT(probe->getPhases(k), SPECTRO::kPi) << k;
    }
    // The NaN has passed through and left nothing behind.
    EXPECT_TRUE(testkit::allFinite(signal.data() + 48000, signal.size() - 48000));
}

TEST(FFTBase, WrapPhaseAndRound1) {
    EXPECT_FLOAT_EQ(SPECTRO::wrapPhase(0.5f), 0.5f);
    EXPECT_NEAR(SPECTRO::wrapPhase(0.5f + 20.0f * SPECTRO::kTwoPi), 0.5f, 1e-4f);
    EXPECT_NEAR(SPECTRO::wrapPhase(-0.5f - 7.0f * SPECTRO::kTwoPi), -0.5f, 1e-5f);
    EXPECT_EQ(SPECTRO::wrapPhase(SPECTRO::kPi), -SPECTRO::kPi);
    EXPECT_EQ(SPECTRO::wrapPhase(std::nanf("")), 0.0f);
    for (float x : {1.0e9f, -3.0e7f, 12345.678f}) {
        const float w = SPECTRO::wrapPhase(x);
        EXPECT_GE(w, -SPECTRO::kPi);
        EXPECT_LT(w, SPECTRO::kPi);
    }
    EXPECT_EQ(round1(2.5f), 3);
    EXPECT_EQ(round1(-2.5f), -2);
    EXPECT_EQ(round1(-2.6f), -3);
    EXPECT_EQ(round1(1.0e20f), std::numeric_limits<int>::max());
    EXPECT_EQ(round1(-1.0e20f), std::numeric_limits<int>::min());
    EXPECT_EQ(round1(std::nanf("")), 0);
    EXPECT_EQ(getAbsVal(-0.25f), 0.25f);
}

// Within two float steps of the library's results (a step at pi is 2.4e-7).
TEST(FFTBase, PolarRowsMatchTheLibraryWithinFloatRounding) {
    // All quadrants, both axes, radii over six decades; an odd count covers the short last group.
    std::vector<float> c, mags, angles;
    for (int i = 0; i <= 200001; ++i) {
        const double angle = -std::numbers::pi + 2.0 * std::numbers::pi * i / 200001.0;
        const float radius = std::pow(10.0f, static_cast<float>(i % 7) - 3.0f);
        angles.push_back(static_cast<float>(angle));
        mags.push_back(radius);
        c.push_back(radius * static_cast<float>(std::cos(angle)));
        c.push_back(radius * static_cast<float>(std::sin(angle)));
    }
    const int n = static_cast<int>(angles.size());
    std::vector<float> phase(n);
    SPECTRO::phasesOf(c.data(), phase.data(), n);
    double worst = 0.0;
    for (int k = 0; k < n; ++k)
        worst = std::max(worst, std::fabs(phase[k] - std::atan2(double(c[2 * k + 1]), double(c[2 * k]))));
    EXPECT_LT(worst, 4e-7);

    std::vector<float> rebuilt(2 * static_cast<std::size_t>(n));
    SPECTRO::polarToComplex(mags.data(), angles.data(), rebuilt.data(), n);
    worst = 0.0;
    for (int k = 0; k < n; ++k) {
        worst = std::max(worst, std::fabs(rebuilt[2 * k] - mags[k] * std::cos(double(angles[k]))) / mags[k]);
        worst =
            std::max(worst, std::fabs(rebuilt[2 * k + 1] - mags[k] * std::sin(double(angles[k]))) / mags[k]);
    }
    EXPECT_LT(worst, 3e-7);

    // The library's answers on zeros, the axes and the negative real axis.
    const std::vector<float> edges = {0.0f,  0.0f, -0.0f, 0.0f, -1.0f, -0.0f, 1.0f,
                                      -0.0f, 0.0f, 2.0f,  0.0f, -2.0f, -3.0f, 0.0f};
    std::vector<float> edgePhase(7);
    SPECTRO::phasesOf(edges.data(), edgePhase.data(), 7);
    for (int k = 0; k < 7; ++k) {
        const float expected = std::atan2(edges[2 * k + 1], edges[2 * k]);
        EXPECT_NEAR(edgePhase[k], expected, 3e-7f) << k;
        EXPECT_EQ(std::signbit(edgePhase[k]), std::signbit(expected)) << k;
    }
}
