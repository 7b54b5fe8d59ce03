#include <gtest/gtest.h>

#include "platform/audio/AUAudioUnitBus.h"
#include "platform/audio/AVAudioPCMBuffer.h"

TEST(AVAudioPCMBuffer, ChannelsAreSeparateZeroedBuffers) {
    AVAudioPCMBuffer buffer(AVAudioFormat::standardFormat(96000.0, 3), 128);
    EXPECT_EQ(buffer.frameCapacity(), 128u);
    const AudioBufferList* list = buffer.audioBufferList();
    ASSERT_EQ(list->mNumberBuffers, 3u);
    for (std::uint32_t c = 0; c < 3; ++c) {
        EXPECT_EQ(list->mBuffers[c].mNumberChannels, 1u);
        EXPECT_EQ(list->mBuffers[c].mDataByteSize, 512u);
        EXPECT_EQ(list->mBuffers[c].mData, buffer.channelData(c));
        EXPECT_EQ(buffer.channelData(c)[127], 0.0f);
    }
    EXPECT_NE(buffer.channelData(0), buffer.channelData(1));
    buffer.setFrameLength(1000);
    EXPECT_EQ(buffer.frameLength(), 128u);
}

TEST(AUAudioUnitBus, RefusesFormatsItCannotCarry) {
    OSStatus error = 1;
    auto bus = AUAudioUnitBus::make(AVAudioFormat::standardFormat(48000.0, 2), &error);
    ASSERT_TRUE(bus);
    EXPECT_EQ(error, noErr);
    bus->setMaximumChannelCount(2);
    EXPECT_FALSE(bus->setFormat(AVAudioFormat::standardFormat(48000.0, 4), &error));
    EXPECT_EQ(error, kAudioUnitErr_FormatNotSupported);
    EXPECT_FALSE(bus->setFormat(AVAudioFormat::standardFormat(0.0, 2)));
    EXPECT_FALSE(bus->setFormat(nullptr));
    EXPECT_EQ(bus->format()->channelCount(), 2u);
    EXPECT_TRUE(bus->setFormat(AVAudioFormat::standardFormat(44100.0, 1)));
    EXPECT_EQ(bus->format()->sampleRate(), 44100.0);
    EXPECT_FALSE(AUAudioUnitBus::make(AVAudioFormat::standardFormat(48000.0, 0)));
}

TEST(Block, SharesOneClosureAndMayBeEmpty) {
    int calls = 0;
    Block<int(int)> a = [&calls](int x) {
        ++calls;
        return x * 2;
    };
    Block<int(int)> b = a;
    Block<int(int)> empty;
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(static_cast<bool>(empty));
    EXPECT_EQ(b(21), 42);
    EXPECT_EQ(calls, 1);
}
