#include <gtest/gtest.h>

#include "tests/kernel/KernelRig.h"
#include "tests/support/Signals.h"

TEST(Adapter, TooManyFramesLeavesTheOutputUntouched) {
    KernelRig rig(48000.0, 512);
    std::vector<float> l(600, 7.0f), r(600, 7.0f);
    AudioBufferListStorage out(2);
    out.get()->mBuffers[0] = AudioBuffer{1, 2400, l.data()};
    out.get()->mBuffers[1] = AudioBuffer{1, 2400, r.data()};
    AudioTimeStamp ts;
    bool pulled = false;
    AURenderPullInputBlock pull = [&](AudioUnitRenderActionFlags*, const AudioTimeStamp*, AUAudioFrameCount,
                                      NSInteger, AudioBufferList*) -> AUAudioUnitStatus {
        pulled = true;
        return noErr;
    };
    EXPECT_EQ(rig.adapter->render(nullptr, &ts, 513, 0, out.get(), nullptr, pull),
              kAudioUnitErr_TooManyFramesToProcess);
    EXPECT_FALSE(pulled);
    for (float v : l) ASSERT_EQ(v, 7.0f);
    EXPECT_EQ(rig.adapter->render(nullptr, &ts, 512, 0, out.get(), nullptr, pull), noErr);
}

TEST(Adapter, PullStatusPassesThroughUntouched) {
    KernelRig rig;
    std::vector<float> l(64, 7.0f), r(64, 7.0f);
    AudioBufferListStorage out(2);
    out.get()->mBuffers[0] = AudioBuffer{1, 256, l.data()};
    out.get()->mBuffers[1] = AudioBuffer{1, 256, r.data()};
    AudioTimeStamp ts;
    AURenderPullInputBlock failing = [](AudioUnitRenderActionFlags*, const AudioTimeStamp*, AUAudioFrameCount,
                                        NSInteger, AudioBufferList*) -> AUAudioUnitStatus { return -1234; };
    EXPECT_EQ(rig.adapter->render(nullptr, &ts, 64, 0, out.get(), nullptr, failing), -1234);
    EXPECT_EQ(l[0], 7.0f);
    // The adapter's own block insists on a pull.
    auto block = rig.adapter->internalRenderBlock();
    EXPECT_EQ(block(nullptr, &ts, 64, 0, out.get(), nullptr, nullptr), kAudioUnitErr_NoConnection);
    EXPECT_EQ(block(nullptr, &ts, 64, 0, out.get(), nullptr, failing), -1234);
}

TEST(Adapter, NullOutputBuffersRenderIntoTheInputBuffers) {
    KernelRig rig;
    rig.kernel().setParameter(kDynamicsOn, 0.0f);
    AudioBufferListStorage out(2);
    AudioTimeStamp ts;
    const auto signal = testkit::noise(64, 3, 0.5f);
    AURenderPullInputBlock pull = [&](AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                      AUAudioFrameCount frames, NSInteger,
                                      AudioBufferList* list) -> AUAudioUnitStatus {
        for (std::uint32_t c = 0; c < 2; ++c)
            std::copy(signal.begin(), signal.begin() + frames, static_cast<float*>(list->mBuffers[c].mData));
        return noErr;
    };
    ASSERT_EQ(rig.adapter->render(nullptr, &ts, 64, 0, out.get(), nullptr, pull), noErr);
    const float* left = static_cast<const float*>(out.get()->mBuffers[0].mData);
    ASSERT_NE(left, nullptr);
    EXPECT_EQ(std::vector<float>(left, left + 64), signal);
}

TEST(Adapter, WithoutPullBlockRendersWhatTheInputHolds) {
    KernelRig rig;
    rig.kernel().setParameter(kDynamicsOn, 0.0f);
    rig.setInput(std::vector<float>(64, 0.25f), std::vector<float>(64, 0.25f));
    ASSERT_EQ(rig.renderBlock(64), noErr);
    std::vector<float> l(64, 7.0f), r(64, 7.0f);
    AudioBufferListStorage out(2);
    out.get()->mBuffers[0] = AudioBuffer{1, 256, l.data()};
    out.get()->mBuffers[1] = AudioBuffer{1, 256, r.data()};
    AudioTimeStamp ts;
    ASSERT_EQ(rig.adapter->render(nullptr, &ts, 64, 0, out.get(), nullptr, nullptr), noErr);
    EXPECT_EQ(l[63], 0.25f);
}

TEST(Adapter, RenderBeforeAllocationIsRefused) {
    auto adapter = Orvo_Halden_ExtensionDSPKernelAdapter::make();
    std::vector<float> l(64, 7.0f), r(64, 7.0f);
    AudioBufferListStorage out(2);
    out.get()->mBuffers[0] = AudioBuffer{1, 256, l.data()};
    out.get()->mBuffers[1] = AudioBuffer{1, 256, r.data()};
    AudioTimeStamp ts;
    EXPECT_EQ(adapter->render(nullptr, &ts, 64, 0, out.get(), nullptr, nullptr), kAudioUnitErr_Uninitialized);
    adapter->allocateRenderResources();
    adapter->deallocateRenderResources();
    EXPECT_EQ(adapter->render(nullptr, &ts, 64, 0, out.get(), nullptr, nullptr), kAudioUnitErr_Uninitialized);
    EXPECT_EQ(l[0], 7.0f);
}

TEST(Adapter, MismatchedChannelCountsStayInsideEveryBuffer) {
    KernelRig rig;
    std::vector<float> mono(64, 7.0f);
    AudioBufferListStorage out(1);
    out.get()->mBuffers[0] = AudioBuffer{1, 256, mono.data()};
    AudioTimeStamp ts;
    EXPECT_EQ(rig.adapter->render(nullptr, &ts, 64, 0, out.get(), nullptr, rig.pull), noErr);
    EXPECT_EQ(mono[0], 0.0f); // the (silent) input copied, nothing more

    std::vector<float> a(16, 7.0f), b(16, 7.0f);
    AudioBufferListStorage small(2);
    small.get()->mBuffers[0] = AudioBuffer{1, 64, a.data()};
    small.get()->mBuffers[1] = AudioBuffer{1, 64, b.data()};
    EXPECT_EQ(rig.adapter->render(nullptr, &ts, 64, 0, small.get(), nullptr, rig.pull), noErr);
}

TEST(Adapter, BusesAndDefaults) {
    auto adapter = Orvo_Halden_ExtensionDSPKernelAdapter::make();
    EXPECT_EQ(adapter->inputBus()->format()->sampleRate(), 48000.0);
    EXPECT_EQ(adapter->outputBus()->format()->channelCount(), 2u);
    EXPECT_EQ(adapter->outputBus()->maximumChannelCount(), 2u);
    EXPECT_EQ(adapter->maximumFramesToRender(), 4096u);
    EXPECT_EQ(adapter->getSamplerate(), 48000.0f);
    adapter->setParameterEx(26, 0.9f);
    EXPECT_EQ(adapter->getParameterEx(26), 0.9f);
}

// Once allocated, the objects belong to the render thread: a host's value is
// stored and read back at once and reaches the objects at the next render.
TEST(Adapter, HostValuesReachTheObjectsOnTheRenderThreadOnceAllocated) {
    auto loose = Orvo_Halden_ExtensionDSPKernelAdapter::make();
    loose->setParameterEx(26, 0.9f);
    EXPECT_NEAR(loose->kernel().reverbB[0].getroomsize(), 0.9f, 1e-6f); // nothing renders yet

    KernelRig rig(48000.0);
    rig.adapter->setParameterEx(26, 0.8f);
    rig.adapter->setParameterEx(50, 0.0f);
    EXPECT_EQ(rig.adapter->getParameterEx(26), 0.8f);
    EXPECT_NEAR(rig.kernel().reverbB[0].getroomsize(), 0.5f, 1e-6f);
    ASSERT_EQ(rig.renderBlock(64), noErr);
    EXPECT_NEAR(rig.kernel().reverbB[0].getroomsize(), 0.8f, 1e-6f);
    EXPECT_EQ(rig.kernel().panpot[0].fPan, -1.0f);

    // After deallocation the host's thread may touch them again.
    rig.adapter->deallocateRenderResources();
    rig.adapter->setParameterEx(26, 0.25f);
    EXPECT_NEAR(rig.kernel().reverbB[0].getroomsize(), 0.25f, 1e-6f);
}
