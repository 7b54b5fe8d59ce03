#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "tests/kernel/KernelRig.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/FrequencyMeasures.h"
#include "tests/support/RenderEvents.h"
#include "tests/support/Signals.h"
#include "tests/support/Subnormals.h"

namespace {

constexpr std::size_t kSecond = 48000;

// A reverberant setting: wet on, dry kept, no limiter in the way.
void reverberate(Orvo_Halden_Extension_DSPKernel& k) {
    for (AUParameterAddress band = 0; band < 4; ++band) k.setParameter(kReverbWet0 + band, 1.0f);
}

void expectFiniteAndClean(const std::vector<float>& v) {
    EXPECT_TRUE(testkit::allFinite(v.data(), v.size()));
    EXPECT_EQ(testkit::countSubnormals(v.data(), v.size()), 0u);
}

} // namespace

TEST(KernelProcessing, BypassIsABitExactCopy) {
    KernelRig rig;
    reverberate(rig.kernel());
    rig.adapter->setShouldBypassEffect(true);
    rig.setInput(testkit::noise(10000, 1), testkit::noise(10000, 2));
    rig.renderAll(333);
    EXPECT_EQ(rig.outL, rig.inputL);
    EXPECT_EQ(rig.outR, rig.inputR);
    rig.adapter->setBypass(false);
    EXPECT_FALSE(rig.adapter->shouldBypassEffect());
}

TEST(KernelProcessing, FullBandDryPathIsTheInputUntilTheLimiter) {
    KernelRig rig;
    rig.kernel().setParameter(kDynamicsOn, 0.0f); // limiter off
    rig.setInput(testkit::noise(4096, 3, 0.5f), testkit::noise(4096, 4, 0.5f));
    rig.renderAll(512);
    EXPECT_EQ(rig.outL, rig.inputL);
    EXPECT_EQ(rig.outR, rig.inputR);
}

TEST(KernelProcessing, BothModesSoundAndDecayToSilence) {
    for (float mode : {0.0f, 1.0f, 2.0f, 3.0f}) {
        KernelRig rig;
        reverberate(rig.kernel());
        rig.kernel().setParameter(kCurrentMode, mode);
        rig.setInput(testkit::noise(kSecond, 5, 0.5f), testkit::noise(kSecond, 6, 0.5f));
        rig.renderAll(512, 12 * kSecond);
        expectFiniteAndClean(rig.outL);
        expectFiniteAndClean(rig.outR);
        EXPECT_GT(testkit::rms(rig.outL.data(), kSecond), 0.05) << mode;
        // The tail (reverb plus post-delay) dies away completely.
        const std::size_t tail = rig.outL.size() - kSecond;
        EXPECT_LT(testkit::peakAbs(rig.outL.data() + tail, kSecond), 1e-4f) << mode;
        EXPECT_LT(testkit::peakAbs(rig.outR.data() + tail, kSecond), 1e-4f) << mode;
        // The reverb really rang after the input stopped.
        EXPECT_GT(testkit::rms(rig.outL.data() + kSecond + 4800, 4800), 1e-3) << mode;
    }
}

TEST(KernelProcessing, SplitBandsSumBackWhenDryAndEven) {
    KernelRig rig;
    auto& k = rig.kernel();
    k.setParameter(kCurrentMode, 1.0f);
    k.setParameter(kDynamicsOn, 0.0f);
    // Dry only, every band at unity (volume 0.5 is gain 1).
    rig.setInput(testkit::noise(8192, 7, 0.5f), testkit::noise(8192, 8, 0.5f));
    rig.renderAll(512);
    for (std::size_t i = 0; i < rig.outL.size(); ++i) {
        ASSERT_NEAR(rig.outL[i], rig.inputL[i], 1e-5f) << i;
        ASSERT_NEAR(rig.outR[i], rig.inputR[i], 1e-5f) << i;
    }
    // Silencing the high band takes the highs away and leaves the lows.
    auto lowTone = testkit::sine(100.0, 48000.0, 16384, 0.5f);
    auto highTone = testkit::sine(15000.0, 48000.0, 16384, 0.5f);
    std::vector<float> mix(lowTone.size());
    for (std::size_t i = 0; i < mix.size(); ++i) mix[i] = lowTone[i] + highTone[i];
    auto energies = [&](float highVolume) {
        KernelRig band;
        band.kernel().setParameter(kCurrentMode, 1.0f);
        band.kernel().setParameter(kDynamicsOn, 0.0f);
        band.kernel().setParameter(kVolume3, highVolume);
        band.setInput(mix, mix);
        band.renderAll(512);
        const float* tail = band.outL.data() + 8192;
        return std::pair{testkit::bandEnergy(tail, 8192, 48000.0, 50.0, 200.0),
                         testkit::bandEnergy(tail, 8192, 48000.0, 14000.0, 16000.0)};
    };
    const auto [lowOn, highOn] = energies(0.5f);
    const auto [lowOff, highOff] = energies(0.0f);
    EXPECT_LT(highOff, 0.1 * highOn);
    EXPECT_GT(lowOff, 0.9 * lowOn);
}

TEST(KernelProcessing, ParameterEventTakesEffectAtItsSample) {
    KernelRig rig;
    rig.kernel().setParameter(kDynamicsOn, 0.0f);
    rig.setInput(std::vector<float>(64, 0.5f), std::vector<float>(64, 0.5f));
    const AURenderEvent dryOff = testkit::parameterEvent(10, 18, 0.0f);
    ASSERT_EQ(rig.renderBlock(64, &dryOff), noErr);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(rig.outL[i], 0.5f) << i;
    for (int i = 10; i < 64; ++i) EXPECT_EQ(rig.outL[i], 0.0f) << i;
    EXPECT_EQ(rig.kernel().getParameter(kReverbDry0), 0.0f);
}

TEST(KernelProcessing, InactiveBandKeepsItsDrySignalUnlessPreDelayed) {
    KernelRig rig;
    auto& k = rig.kernel();
    k.setParameter(kCurrentMode, 1.0f);
    k.setParameter(kDynamicsOn, 0.0f);
    k.setParameter(kActive1, 0.0f);
    k.setParameter(kActive2, 0.0f);
    k.setParameter(kActive3, 0.0f);
    reverberate(k);
    rig.setInput(testkit::noise(4096, 9, 0.5f), testkit::noise(4096, 10, 0.5f));
    rig.renderAll(512);
    for (std::size_t i = 0; i < rig.outL.size(); ++i) ASSERT_NEAR(rig.outL[i], rig.inputL[i], 1e-5f);

    KernelRig silent;
    auto& s = silent.kernel();
    s.setParameter(kCurrentMode, 1.0f);
    for (AUParameterAddress a : {kActive1, kActive2, kActive3}) s.setParameter(a, 0.0f);
    for (AUParameterAddress a : {kReverbPreDelay1, kReverbPreDelay2, kReverbPreDelay3})
        s.setParameter(a, 1.0f);
    silent.setInput(testkit::noise(4096, 9, 0.5f), testkit::noise(4096, 10, 0.5f));
    silent.renderAll(512);
    EXPECT_EQ(testkit::peakAbs(silent.outL.data(), silent.outL.size()), 0.0f);
}

TEST(KernelProcessing, ShiftersRunInEveryPlacementWithoutHarm) {
    for (float connection : {0.0f, 1.0f}) {
        for (float mode : {0.0f, 1.0f, 2.0f, 3.0f}) {
            KernelRig rig;
            auto& k = rig.kernel();
            k.setParameter(kCurrentMode, 2.0f);
            reverberate(k);
            for (AUParameterAddress b = 0; b < 4; ++b) {
                k.setParameter(kReverbShift0 + b, 1.0f);
                k.setParameter(kReverbShiftConnection0 + b, connection);
                k.setParameter(kReverbShiftAmount0 + b, 0.75f);
                k.setParameter(kReverbShiftMode0 + b, mode);
            }
            rig.setInput(testkit::noise(kSecond / 2, 11, 0.5f), testkit::noise(kSecond / 2, 12, 0.5f));
            rig.renderAll(256);
            expectFiniteAndClean(rig.outL);
            EXPECT_GT(testkit::rms(rig.outL.data(), rig.outL.size()), 0.01) << connection << " " << mode;
        }
    }
}

TEST(KernelProcessing, LongSlicesAreRenderedInChunks) {
    KernelRig rig(48000.0, 10000);
    rig.kernel().setParameter(kDynamicsOn, 0.0f);
    rig.setInput(testkit::noise(10000, 13, 0.5f), testkit::noise(10000, 14, 0.5f));
    ASSERT_EQ(rig.renderBlock(10000), noErr);
    EXPECT_EQ(rig.outL, rig.inputL);
}

TEST(KernelProcessing, RenderAllocatesNothing) {
    KernelRig rig;
    auto& k = rig.kernel();
    reverberate(k);
    k.setParameter(kCurrentMode, 1.0f);
    for (AUParameterAddress b = 0; b < 4; ++b) {
        k.setParameter(kReverbPreDelay0 + b, 1.0f);
        k.setParameter(kReverbShift0 + b, 1.0f);
        k.setParameter(kReverbShiftAmount0 + b, 0.7f);
        k.setParameter(kReverbShiftMode0 + b, 1.0f);
    }
    rig.setInput(testkit::noise(8192, 15), testkit::noise(8192, 16));
    rig.outL.reserve(10000);
    rig.outR.reserve(10000);
    testkit::AllocationCounter counter;
    for (int i = 0; i < 9; ++i) rig.renderBlock(512);
    const auto allocations = counter.count();
    EXPECT_EQ(allocations, 0u);
}

TEST(KernelProcessing, MetersFollowTheLimiter) {
    KernelRig rig;
    rig.setInput(std::vector<float>(9600, 0.4f), std::vector<float>(9600, 0.4f));
    rig.renderAll(480);
    EXPECT_NEAR(rig.adapter->getPeakInput(), 0.8f, 0.01f);
    EXPECT_GT(rig.adapter->getPeakOutput(), 0.0f);
    rig.adapter->reset();
    EXPECT_EQ(rig.adapter->getPeakInput(), 0.0f);
}

TEST(KernelProcessing, SpectrumShowsTheShownBand) {
    KernelRig rig;
    rig.setInput(testkit::sine(440.0, 48000.0, kSecond, 0.5f), testkit::sine(440.0, 48000.0, kSecond, 0.5f));
    rig.renderAll(512);
    const float* chroma = rig.adapter->getMagnitutes();
    int loudest = 0;
    for (int i = 0; i < 137; ++i)
        if (chroma[i] > chroma[loudest]) loudest = i;
    EXPECT_EQ(loudest, 69);
    EXPECT_EQ(rig.adapter->getChromaticFrequency(0), 0.0f);
    EXPECT_EQ(rig.adapter->getChromaticFrequency(128), 0.0f);
    EXPECT_NEAR(rig.adapter->getChromaticFrequency(69), 440.0f, 0.01f);

    const float* scaled = rig.adapter->getMagnitutesScaled(128, 0.0f);
    int peak = 0;
    for (int i = 0; i < 128; ++i)
        if (scaled[i] > scaled[peak]) peak = i;
    // Linear scale up to a quarter of the rate: 440 Hz sits near 440 / 12000 of the way.
    EXPECT_NEAR(peak, 127.0 * 440.0 / 12000.0, 1.5);
    EXPECT_TRUE(testkit::allFinite(rig.adapter->getMagnitutesScaled(10000, 0.5f), 4096));
    EXPECT_TRUE(testkit::allFinite(rig.adapter->getMagnitutesScaled(0, 2.0f), 1));
}

// Offline, with nothing rendering, the kernel's own getters read its analyser
// and agree with what the adapter hands the editor.
TEST(KernelProcessing, TheKernelsOwnSpectrumGettersMatchTheAdapters) {
    KernelRig rig;
    rig.setInput(testkit::sine(440.0, 48000.0, kSecond, 0.5f), testkit::sine(440.0, 48000.0, kSecond, 0.5f));
    rig.renderAll(512);
    Orvo_Halden_Extension_DSPKernel& k = rig.kernel();

    const float* viaAdapter = rig.adapter->getMagnitutes();
    const std::vector<float> shown(viaAdapter, viaAdapter + 137);
    const float* own = k.getMagnitudes();
    EXPECT_EQ(std::vector<float>(own, own + 137), shown);
    EXPECT_EQ(std::max_element(own, own + 137) - own, 69);

    const struct {
        int count;
        float scaling;
        int places;
    } cases[] = {{128, 0.0f, 128}, {128, 0.5f, 128}, {300, 1.0f, 300}, {10000, 0.5f, 4096}, {0, 2.0f, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        const float* adapterScaled = rig.adapter->getMagnitutesScaled(c.count, c.scaling);
        const std::vector<float> expected(adapterScaled, adapterScaled + c.places);
        float* scaled = k.getMagnitudesScaled(c.count, c.scaling);
        ASSERT_EQ(scaled, k.scaled_magnitudes);
        EXPECT_EQ(std::vector<float>(scaled, scaled + c.places), expected);
        const auto peak = std::max_element(scaled, scaled + c.places) - scaled;
        if (c.places > 1) {
            EXPECT_GT(k.scaled_frequencies[peak], 0.0f);
        }
    }
}

// The editor reads the spectrum at its own pace, often more than once between
// two analysed frames: a read leaves the averaged values as one frame's, so
// reading again finds them as they were.
TEST(KernelProcessing, ReadingTheSpectrumAgainBeforeTheNextFrameChangesNothing) {
    const struct {
        const char* reader;
        const float* (*read)(KernelRig&);
    } readers[] = {
        {"the adapter's, for the editor",
         [](KernelRig& rig) -> const float* { return rig.adapter->getMagnitutes(); }},
        {"the kernel's own", [](KernelRig& rig) -> const float* { return rig.kernel().getMagnitudes(); }},
    };
    for (const auto& r : readers) {
        SCOPED_TRACE(r.reader);
        KernelRig rig;
        rig.setInput(testkit::sine(440.0, 48000.0, kSecond / 2, 0.5f),
                     testkit::sine(440.0, 48000.0, kSecond / 2, 0.5f));
        rig.renderAll(512);
        // Several frames summed, so that dividing twice would show.
        ASSERT_GT(rig.kernel().analyzer.scala.chromaticCount.load(), 2);
        const float* first = r.read(rig);
        const std::vector<float> shown(first, first + 137);
        EXPECT_EQ(std::max_element(shown.begin(), shown.end()) - shown.begin(), 69);
        EXPECT_EQ(shown[69], 1.0f);
        for (int again = 1; again <= 2; ++again) {
            const float* next = r.read(rig);
            EXPECT_EQ(std::vector<float>(next, next + 137), shown) << "read " << again + 1;
        }
    }
}
