#include <gtest/gtest.h>

#include "kernel/BufferedAudioBus.h"

namespace {
std::shared_ptr<const AVAudioFormat> stereo48k() { return AVAudioFormat::standardFormat(48000.0, 2); }
} // namespace

TEST(BufferedAudioBus, AllocationFollowsTheBusFormat) {
    BufferedInputBus input;
    input.init(stereo48k(), 2);
    ASSERT_TRUE(input.bus);
    EXPECT_EQ(input.bus->maximumChannelCount(), 2u);
    EXPECT_EQ(input.pcmBuffer, nullptr);

    ASSERT_TRUE(input.bus->setFormat(AVAudioFormat::standardFormat(44100.0, 1)));
    input.allocateRenderResources(512);
    ASSERT_NE(input.originalAudioBufferList, nullptr);
    EXPECT_EQ(input.originalAudioBufferList->mNumberBuffers, 1u);
    EXPECT_EQ(input.pcmBuffer->format()->sampleRate(), 44100.0);

    input.deallocateRenderResources();
    input.deallocateRenderResources();
    EXPECT_EQ(input.pcmBuffer, nullptr);
    EXPECT_EQ(input.mutableAudioBufferList, nullptr);
}

TEST(BufferedAudioBus, PullHandsFullSizedOwnBuffersEveryTime) {
    BufferedInputBus input;
    input.init(stereo48k(), 2);
    input.allocateRenderResources(4096);
    float foreign[64] = {};
    int pulls = 0;
    AURenderPullInputBlock host = [&](AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                      AUAudioFrameCount frames, NSInteger bus,
                                      AudioBufferList* list) -> AUAudioUnitStatus {
        ++pulls;
        EXPECT_EQ(bus, 0);
        EXPECT_EQ(list->mNumberBuffers, 2u);
        for (std::uint32_t i = 0; i < list->mNumberBuffers; ++i) {
            EXPECT_EQ(list->mBuffers[i].mDataByteSize, 16384u);
            EXPECT_EQ(list->mBuffers[i].mData, input.originalAudioBufferList->mBuffers[i].mData);
            static_cast<float*>(list->mBuffers[i].mData)[frames - 1] = 0.25f;
            // A host may point the list at its own memory.
            list->mBuffers[i].mData = foreign;
            list->mBuffers[i].mDataByteSize = 4;
        }
        return noErr;
    };
    AudioUnitRenderActionFlags flags = 0;
    AudioTimeStamp ts;
    EXPECT_EQ(input.pullInput(&flags, &ts, 64, 0, host), noErr);
    EXPECT_EQ(input.pullInput(&flags, &ts, 64, 0, host), noErr);
    EXPECT_EQ(pulls, 2);
    EXPECT_EQ(input.pcmBuffer->channelData(1)[63], 0.25f);
}

TEST(BufferedAudioBus, PullStatusesPassThrough) {
    BufferedInputBus input;
    input.init(stereo48k(), 2);
    AudioUnitRenderActionFlags flags = 0;
    AudioTimeStamp ts;
    AURenderPullInputBlock failing = [](AudioUnitRenderActionFlags*, const AudioTimeStamp*, AUAudioFrameCount,
                                        NSInteger, AudioBufferList*) -> AUAudioUnitStatus { return -50; };
    // Not allocated yet: nothing to pull into.
    EXPECT_EQ(input.pullInput(&flags, &ts, 16, 0, failing), kAudioUnitErr_NoConnection);
    input.allocateRenderResources(64);
    EXPECT_EQ(input.pullInput(&flags, &ts, 16, 0, nullptr), kAudioUnitErr_NoConnection);
    EXPECT_EQ(input.pullInput(&flags, &ts, 16, 0, failing), -50);
}
