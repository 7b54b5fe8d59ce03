#pragma once

#include <memory>

#include "platform/audio/AUAudioUnitBus.h"
#include "platform/audio/AVAudioPCMBuffer.h"

// A platform bus with a sample buffer of its own, allocated with the render
// resources.
class BufferedAudioBus {
public:
    void init(std::shared_ptr<const AVAudioFormat> defaultFormat, AVAudioChannelCount maxChannels);
    void allocateRenderResources(AUAudioFrameCount inMaxFrames);
    void deallocateRenderResources();

    std::shared_ptr<AUAudioUnitBus> bus;
    AUAudioFrameCount maxFrames = 0;
    std::unique_ptr<AVAudioPCMBuffer> pcmBuffer;
    const AudioBufferList* originalAudioBufferList = nullptr;
    AudioBufferList* mutableAudioBufferList = nullptr;
};

// The input bus: pulls the host's input into the bus's own buffer.
class BufferedInputBus : public BufferedAudioBus {
public:
    [[nodiscard]] AUAudioUnitStatus pullInput(AudioUnitRenderActionFlags* actionFlags,
                                              const AudioTimeStamp* timestamp, AUAudioFrameCount frameCount,
                                              NSInteger inputBusNumber,
                                              const AURenderPullInputBlock& pullInputBlock) noexcept;

    // Restores the mutable list from the buffer's own before every pull, since
    // a host may have redirected its data pointers.
    void prepareInputBufferList() noexcept;
};
