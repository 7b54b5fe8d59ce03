#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/support/Signals.h"
#include "tests/validation/ValidationHost.h"

using namespace validation;

namespace {

constexpr double kRate = 48000.0;
constexpr AUAudioFrameCount kBlock = 256;

// Sets a per-band family to the same value in all four bands.
void setAllBands(Host& host, AUParameterAddress base, AUValue value) {
    for (AUParameterAddress b = 0; b < 4; ++b) host.setThroughTree(base + b, value);
}

// The same noise through a freshly reset unit, checked for what every
// configuration must give: finite, normal, audible samples.
Stereo renderChecked(Host& host, const std::string& what, float amplitude = 0.5f, double seconds = 0.2) {
    host.unit->reset();
    Stereo signal = noise(framesFor(seconds, kRate), 21, amplitude);
    EXPECT_EQ(host.process(signal, kBlock), noErr) << what;
    EXPECT_TRUE(clean(signal)) << what;
    EXPECT_GT(peak(signal), 0.01f) << what;
    return signal;
}

// The note the analyser's chromatic picture is centred on.
float spectralCentroid(Host& host) {
    const float* magnitudes = host.unit->kernelAdapter()->getMagnitutes();
    double weighted = 0.0, sum = 0.0;
    for (int note = 0; note < 137; ++note) {
        weighted += note * static_cast<double>(magnitudes[note]);
        sum += magnitudes[note];
    }
    return sum > 0.0 ? static_cast<float>(weighted / sum) : 0.0f;
}

float sumPeak(const Stereo& signal, std::size_t from) {
    float top = 0.0f;
    for (std::size_t i = from; i < signal.frames(); ++i)
        top = std::max(top, std::fabs(signal.L[i] + signal.R[i]));
    return top;
}

} // namespace

TEST(Configurations, EveryModeWithEveryReverbModelRendersClean) {
    Host host(kRate, 4096);
    for (int model = 0; model <= 4; ++model) {
        setAllBands(host, kReverbModel0, static_cast<AUValue>(model));
        std::vector<Stereo> byMode;
        for (int mode = 0; mode <= 3; ++mode) {
            host.setThroughTree(kCurrentMode, static_cast<AUValue>(mode));
            byMode.push_back(
                renderChecked(host, "mode " + std::to_string(mode) + ", model " + std::to_string(model)));
        }
        // Modes 1..3 only choose the band shown: the sound is the same.
        EXPECT_TRUE(byMode[1].L == byMode[2].L) << model;
        EXPECT_TRUE(byMode[3].R == byMode[2].R) << model;
        EXPECT_FALSE(byMode[0].L == byMode[1].L) << model;
    }
    EXPECT_EQ(host.renderAllocations(), 0u);
}

TEST(Configurations, EachBandShownFeedsItsOwnSpectrum) {
    Host host(kRate, 4096);
    float centroids[4] = {};
    for (int mode = 1; mode <= 3; ++mode) {
        host.setThroughTree(kCurrentMode, static_cast<AUValue>(mode));
        renderChecked(host, "mode " + std::to_string(mode), 0.5f, 0.5);
        centroids[mode] = spectralCentroid(host);
    }
    EXPECT_LT(centroids[1], centroids[2]);
    EXPECT_LT(centroids[2], centroids[3]);
}

TEST(Configurations, EveryShiftModeAndConnectionRendersClean) {
    Host host(kRate, 4096);
    for (const int mode : {0, 2}) {
        host.setThroughTree(kCurrentMode, static_cast<AUValue>(mode));
        setAllBands(host, kReverbShift0, 0.0f);
        const Stereo plain = renderChecked(host, "no shift");
        setAllBands(host, kReverbShift0, 1.0f);
        setAllBands(host, kReverbShiftAmount0, 0.75f);
        for (int connection = 0; connection <= 1; ++connection) {
            setAllBands(host, kReverbShiftConnection0, static_cast<AUValue>(connection));
            for (int shiftMode = 0; shiftMode <= 3; ++shiftMode) {
                setAllBands(host, kReverbShiftMode0, static_cast<AUValue>(shiftMode));
                const std::string what = "mode " + std::to_string(mode) + ", connection " +
                                         std::to_string(connection) + ", shift mode " +
                                         std::to_string(shiftMode);
                const Stereo shifted = renderChecked(host, what);
                // Shift mode 0 shifts nothing; modes 1 and 2 change the sound.
                if (shiftMode == 0) {
                    EXPECT_TRUE(shifted.L == plain.L) << what;
                } else if (shiftMode != 3) {
                    EXPECT_FALSE(shifted.L == plain.L) << what;
                }
            }
        }
    }
    EXPECT_EQ(host.renderAllocations(), 0u);
}

TEST(Configurations, DelaysOnAndOffAtEveryDivisionRenderClean) {
    Host host(kRate, 4096);
    for (const int mode : {0, 2}) {
        host.setThroughTree(kCurrentMode, static_cast<AUValue>(mode));
        setAllBands(host, kReverbPreDelay0, 0.0f);
        setAllBands(host, kReverbPostDelay0, 0.0f);
        // A reset starts the first cycle at half a second, whatever the settings.
        const Stereo dry = renderChecked(host, "delays off", 0.5f, 0.6);
        for (const AUParameterAddress on : {kReverbPreDelay0, kReverbPostDelay0}) {
            setAllBands(host, on, 1.0f);
            for (int division = 0; division <= 19; ++division) {
                setAllBands(host, kReverbPreDelayDivision0, static_cast<AUValue>(division));
                setAllBands(host, kReverbPostDelayDivision0, static_cast<AUValue>(division));
                setAllBands(host, kReverbPreDelayFeedback0, 0.95f);
                setAllBands(host, kReverbPostDelayFeedback0, 0.95f);
                const std::string what = "mode " + std::to_string(mode) + ", delay " + std::to_string(on) +
                                         ", division " + std::to_string(division);
                const Stereo delayed = renderChecked(host, what, 0.5f, 0.6);
                // Division 0 switches the delay off; any other one is heard.
                const std::vector<float> dryPart(dry.L.begin(), dry.L.begin() + delayed.frames());
                if (division == 0) {
                    EXPECT_TRUE(delayed.L == dryPart) << what;
                } else {
                    EXPECT_FALSE(delayed.L == dryPart) << what;
                }
            }
        }
    }
    EXPECT_EQ(host.renderAllocations(), 0u);
}

// The limiter follows the peak of the channels' sum with a slow linear ramp
// and scales the pair down by it: a loud steady tone comes out near full scale.
TEST(Configurations, TheLimiterHoldsALoudToneNearFullScale) {
    Host host(kRate, 4096);
    host.setThroughTree(kCurrentMode, 0.0f);
    Stereo tone;
    tone.L = testkit::sine(220.0, kRate, framesFor(2.0, kRate), 4.0f);
    tone.R = tone.L;
    host.setThroughTree(kDynamicsOn, 0.0f);
    const Stereo open = host.rendered(tone, kBlock);
    host.setThroughTree(kDynamicsOn, 1.0f);
    host.unit->reset();
    const Stereo limited = host.rendered(tone, kBlock);
    const std::size_t settled = limited.frames() / 2;
    EXPECT_GT(sumPeak(open, settled), 2.0f);
    EXPECT_LT(sumPeak(limited, settled), 1.1f);
    EXPECT_GT(sumPeak(limited, settled), 0.8f);
    EXPECT_TRUE(allFinite(limited));
    EXPECT_EQ(host.renderAllocations(), 0u);
}
