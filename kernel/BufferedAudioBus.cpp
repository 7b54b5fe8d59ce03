#include "kernel/BufferedAudioBus.h"

void BufferedAudioBus::init(std::shared_ptr<const AVAudioFormat> defaultFormat,
                            AVAudioChannelCount maxChannels) {
    maxFrames = 0;
    pcmBuffer.reset();
    originalAudioBufferList = nullptr;
    mutableAudioBufferList = nullptr;
    bus = AUAudioUnitBus::make(std::move(defaultFormat));
    if (bus) bus->setMaximumChannelCount(maxChannels);
}

void BufferedAudioBus::allocateRenderResources(AUAudioFrameCount inMaxFrames) {
    maxFrames = inMaxFrames;
    pcmBuffer.reset();
    originalAudioBufferList = nullptr;
    mutableAudioBufferList = nullptr;
    if (!bus || !bus->format()) return;
    pcmBuffer = std::make_unique<AVAudioPCMBuffer>(bus->format(), maxFrames);
    originalAudioBufferList = pcmBuffer->audioBufferList();
    mutableAudioBufferList = pcmBuffer->mutableAudioBufferList();
}

void BufferedAudioBus::deallocateRenderResources() {
    pcmBuffer.reset();
    originalAudioBufferList = nullptr;
    mutableAudioBufferList = nullptr;
}

AUAudioUnitStatus BufferedInputBus::pullInput(AudioUnitRenderActionFlags* actionFlags,
                                              const AudioTimeStamp* timestamp, AUAudioFrameCount frameCount,
                                              NSInteger inputBusNumber,
                                              const AURenderPullInputBlock& pullInputBlock) noexcept {
    if (!pullInputBlock) return kAudioUnitErr_NoConnection;
    // Without resources there is nowhere to pull into.
    if (mutableAudioBufferList == nullptr) return kAudioUnitErr_NoConnection;
    prepareInputBufferList();
    return pullInputBlock(actionFlags, timestamp, frameCount, inputBusNumber, mutableAudioBufferList);
}

void BufferedInputBus::prepareInputBufferList() noexcept {
    if (originalAudioBufferList == nullptr || mutableAudioBufferList == nullptr) return;
    const auto byteSize = static_cast<std::uint32_t>(maxFrames * sizeof(float));
    mutableAudioBufferList->mNumberBuffers = originalAudioBufferList->mNumberBuffers;
    for (std::uint32_t i = 0; i < originalAudioBufferList->mNumberBuffers; ++i) {
        mutableAudioBufferList->mBuffers[i].mNumberChannels =
            originalAudioBufferList->mBuffers[i].mNumberChannels;
        mutableAudioBufferList->mBuffers[i].mData = originalAudioBufferList->mBuffers[i].mData;
        mutableAudioBufferList->mBuffers[i].mDataByteSize = byteSize;
    }
}
