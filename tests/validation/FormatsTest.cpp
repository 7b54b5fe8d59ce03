#include <gtest/gtest.h>

#include <random>

#include "tests/validation/ValidationHost.h"

using namespace validation;

namespace {

constexpr double kRates[] = {11025.0, 22050.0, 44100.0, 48000.0, 88200.0, 96000.0, 192000.0};
constexpr AUAudioFrameCount kMaximum = 4096;
constexpr AUAudioFrameCount kBlocks[] = {1, 2, 17, 64, 137, 512, kMaximum};

void expectClean(const Stereo& output, const std::string& what) {
    EXPECT_TRUE(allFinite(output)) << what;
    EXPECT_EQ(subnormals(output), 0u) << what;
}

} // namespace

// One unit goes through every rate and every block size, as hosts reconfigure
// a loaded plug-in; the reverb tail of one rate rings into the next on purpose.
TEST(Formats, EveryRateAndBlockSizeRendersCleanAudioWithoutAllocating) {
    Host host(48000.0, kMaximum);
    std::mt19937 random(11);
    for (const double rate : kRates) {
        host.configure(rate, kMaximum);
        // A tenth of a second per block size; block size 1 gets the same time.
        const std::size_t frames = framesFor(0.1, rate);
        for (const AUAudioFrameCount block : kBlocks) {
            Stereo signal = noise(frames, static_cast<std::uint32_t>(block), 0.7f);
            ASSERT_EQ(host.process(signal, block), noErr) << rate << " Hz, block " << block;
            expectClean(signal, std::to_string(rate) + " Hz, block " + std::to_string(block));
            EXPECT_GT(peak(signal), 0.01f) << rate << " Hz, block " << block;
        }
        Stereo signal = noise(frames, 99, 0.7f);
        ASSERT_EQ(host.processRandomBlocks(signal, random), noErr) << rate;
        expectClean(signal, std::to_string(rate) + " Hz, random blocks");
    }
    EXPECT_EQ(host.renderAllocations(), 0u);
}

// Hosts split their cycles as they like: the sound must not depend on it.
TEST(Formats, TheOutputDoesNotDependOnTheBlockSize) {
    const Stereo input = noise(framesFor(0.25, 44100.0), 5, 0.5f);
    Stereo reference;
    {
        Host host(44100.0, kMaximum);
        reference = host.rendered(input, kMaximum);
    }
    Host host(44100.0, kMaximum);
    for (const AUAudioFrameCount block : {1u, 17u, 137u, 512u}) {
        host.unit->reset();
        const Stereo output = host.rendered(input, block);
        ASSERT_EQ(output.frames(), reference.frames());
        float difference = 0.0f;
        for (std::size_t i = 0; i < output.frames(); ++i)
            difference = std::max({difference, std::fabs(output.L[i] - reference.L[i]),
                                   std::fabs(output.R[i] - reference.R[i])});
        EXPECT_LT(difference, 1e-4f) << "block " << block;
    }
}

// A maximum above the kernel's own slice is rendered in slices.
TEST(Formats, BlocksLongerThanTheInnerSliceRenderWhole) {
    Host host(96000.0, 3 * 4096 + 5);
    Stereo signal = noise(host.maximumFrames(), 3, 0.5f);
    ASSERT_EQ(host.process(signal, host.maximumFrames()), noErr);
    expectClean(signal, "long block");
    // Every slice, the last short one too, was rendered.
    EXPECT_GT(peak(signal, signal.frames() - 5), 0.0f);
    EXPECT_EQ(host.renderAllocations(), 0u);
}

TEST(Formats, AZeroFrameCallSucceedsAndTouchesNothing) {
    Host host(48000.0, 512);
    Stereo sentinel(16, 0.25f);
    Stereo input = noise(16, 1);
    EXPECT_EQ(host.render(input.L.data(), input.R.data(), sentinel.L.data(), sentinel.R.data(), 0), noErr);
    EXPECT_EQ(sentinel.L, std::vector<float>(16, 0.25f));
    EXPECT_EQ(sentinel.R, std::vector<float>(16, 0.25f));
    EXPECT_EQ(host.sampleTime(), 0);
    // And the unit renders on as before.
    Stereo signal = noise(512, 2, 0.5f);
    EXPECT_EQ(host.process(signal, 512), noErr);
    EXPECT_GT(peak(signal), 0.01f);
}

TEST(Formats, MoreFramesThanTheMaximumFailAndLeaveTheOutputUntouched) {
    for (const AUAudioFrameCount maximum : {1u, 137u, 512u, 4096u}) {
        Host host(44100.0, maximum);
        const std::size_t frames = maximum + 64;
        const Stereo input = noise(frames, 4);
        Stereo output(frames, -0.125f);
        for (const AUAudioFrameCount asked : {maximum + 1, maximum + 64}) {
            EXPECT_EQ(host.render(input.L.data(), input.R.data(), output.L.data(), output.R.data(), asked),
                      kAudioUnitErr_TooManyFramesToProcess)
                << maximum << " / " << asked;
            EXPECT_EQ(output.L, std::vector<float>(frames, -0.125f)) << maximum;
            EXPECT_EQ(output.R, std::vector<float>(frames, -0.125f)) << maximum;
        }
        // The refused calls did not disturb the next good one.
        Stereo signal = noise(maximum, 6, 0.5f);
        EXPECT_EQ(host.process(signal, maximum), noErr);
        EXPECT_TRUE(allFinite(signal));
    }
}

// Pitch shifters, delays and all bands at once, at the rates where buffer
// sizes and cycle lengths reach their ends.
TEST(Formats, EveryRateWithEverythingSwitchedOnRendersClean) {
    Host host(48000.0, kMaximum);
    for (AUParameterAddress b = 0; b < 4; ++b) {
        for (const AUParameterAddress on : {kReverbPreDelay0, kReverbPostDelay0, kReverbShift0})
            host.setThroughTree(on + b, 1.0f);
        host.setThroughTree(kReverbPreDelayTempo0 + b, 40.0f);    // slowest tempo
        host.setThroughTree(kReverbPreDelayDivision0 + b, 19.0f); // longest division
        host.setThroughTree(kReverbPreDelayFeedback0 + b, 0.95f); // feedback
        host.setThroughTree(kReverbShiftAmount0 + b, 0.9f);       // shift upwards
        host.setThroughTree(kReverbShiftMix0 + b, 0.5f);          // shift mix
        host.setThroughTree(kReverbSize0 + b, 1.0f);              // largest room
    }
    for (const double rate : kRates) {
        host.configure(rate, kMaximum);
        for (const float mode : {0.0f, 3.0f}) {
            for (const float shiftMode : {1.0f, 2.0f}) {
                host.setThroughTree(kCurrentMode, mode);
                for (AUParameterAddress b = 0; b < 4; ++b) {
                    host.setThroughTree(kReverbShiftMode0 + b, shiftMode);
                    host.setThroughTree(kReverbShiftConnection0 + b, shiftMode == 1.0f ? 0.0f : 1.0f);
                }
                Stereo signal = noise(framesFor(0.15, rate), 31, 0.7f);
                ASSERT_EQ(host.process(signal, 333), noErr);
                const std::string what = std::to_string(rate) + " Hz, mode " + std::to_string(mode) +
                                         ", shift mode " + std::to_string(shiftMode);
                expectClean(signal, what);
                EXPECT_GT(peak(signal), 0.01f) << what;
            }
        }
    }
    EXPECT_EQ(host.renderAllocations(), 0u);
}

// Hosts may hand output buffers without memory: the unit renders into its own.
TEST(Formats, OutputBuffersWithoutMemoryAreFilledFromTheUnitsOwn) {
    Host host(44100.0, 512);
    const Stereo input = noise(512, 12, 0.5f);
    Stereo withMemory = input;
    ASSERT_EQ(host.process(withMemory, 512), noErr);
    host.unit->reset();
    AudioBufferListStorage output(2);
    output.get()->mBuffers[0] = AudioBuffer{1, 0, nullptr};
    output.get()->mBuffers[1] = AudioBuffer{1, 0, nullptr};
    AURenderPullInputBlock pull = [&](AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                      AUAudioFrameCount frames, NSInteger,
                                      AudioBufferList* list) -> AUAudioUnitStatus {
        std::copy_n(input.L.data(), frames, static_cast<float*>(list->mBuffers[0].mData));
        std::copy_n(input.R.data(), frames, static_cast<float*>(list->mBuffers[1].mData));
        return noErr;
    };
    AudioTimeStamp timestamp;
    AudioUnitRenderActionFlags flags = 0;
    ASSERT_EQ(host.unit->renderBlock()(&flags, &timestamp, 512, 0, output.get(), nullptr, pull), noErr);
    const auto* left = static_cast<const float*>(output.get()->mBuffers[0].mData);
    const auto* right = static_cast<const float*>(output.get()->mBuffers[1].mData);
    ASSERT_NE(left, nullptr);
    ASSERT_NE(right, nullptr);
    EXPECT_TRUE(std::vector<float>(left, left + 512) == withMemory.L);
    EXPECT_TRUE(std::vector<float>(right, right + 512) == withMemory.R);
}
