#include "platform/audio/AVAudioPCMBuffer.h"

AVAudioPCMBuffer::AVAudioPCMBuffer(std::shared_ptr<const AVAudioFormat> format,
                                   AVAudioFrameCount frameCapacity)
    : format_(std::move(format)), frameCapacity_(frameCapacity), original_(format_->channelCount()),
      mutable_(format_->channelCount()) {
    const AVAudioChannelCount channels = format_->channelCount();
    samples_.resize(channels);
    for (AVAudioChannelCount c = 0; c < channels; ++c) {
        samples_[c].assign(frameCapacity, 0.0f);
        const AudioBuffer buffer{1, static_cast<std::uint32_t>(frameCapacity * sizeof(float)),
                                 samples_[c].data()};
        original_.get()->mBuffers[c] = buffer;
        mutable_.get()->mBuffers[c] = buffer;
    }
}
