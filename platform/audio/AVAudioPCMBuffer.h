#pragma once

#include <memory>
#include <vector>

#include "platform/audio/AVAudioFormat.h"

// Non-interleaved float sample storage of a fixed frame capacity, one buffer
// per channel, with the buffer list views the render code hands around.
class AVAudioPCMBuffer {
public:
    AVAudioPCMBuffer(std::shared_ptr<const AVAudioFormat> format, AVAudioFrameCount frameCapacity);
    // Takes `channels` as its samples, full: one per channel of `format`, all
    // as long as the first (a reader hands over what it decoded without a copy).
    AVAudioPCMBuffer(std::shared_ptr<const AVAudioFormat> format, std::vector<std::vector<float>> channels);
    AVAudioPCMBuffer(const AVAudioPCMBuffer&) = delete;
    AVAudioPCMBuffer& operator=(const AVAudioPCMBuffer&) = delete;

    const std::shared_ptr<const AVAudioFormat>& format() const { return format_; }
    AVAudioFrameCount frameCapacity() const { return frameCapacity_; }
    AVAudioFrameCount frameLength() const { return frameLength_; }
    void setFrameLength(AVAudioFrameCount frames) {
        frameLength_ = frames <= frameCapacity_ ? frames : frameCapacity_;
    }

    float* channelData(AVAudioChannelCount channel) { return samples_[channel].data(); }
    const float* channelData(AVAudioChannelCount channel) const { return samples_[channel].data(); }

    // The buffer's own list: always points at this buffer's memory.
    const AudioBufferList* audioBufferList() const { return original_.get(); }
    // A list a host may redirect; rebuild it from audioBufferList() before reuse.
    AudioBufferList* mutableAudioBufferList() { return mutable_.get(); }

private:
    void describeBuffers();

    std::shared_ptr<const AVAudioFormat> format_;
    AVAudioFrameCount frameCapacity_;
    AVAudioFrameCount frameLength_ = 0;
    std::vector<std::vector<float>> samples_;
    AudioBufferListStorage original_;
    AudioBufferListStorage mutable_;
};
