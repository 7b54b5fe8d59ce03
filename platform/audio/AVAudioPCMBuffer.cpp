#include "platform/audio/AVAudioPCMBuffer.h"

AVAudioPCMBuffer::AVAudioPCMBuffer(std::shared_ptr<const AVAudioFormat> format,
                                   AVAudioFrameCount frameCapacity)
    : format_(std::move(format)), frameCapacity_(frameCapacity) {
    samples_.assign(format_->channelCount(), std::vector<float>(frameCapacity, 0.0f));
    describeBuffers();
}

AVAudioPCMBuffer::AVAudioPCMBuffer(std::shared_ptr<const AVAudioFormat> format,
                                   std::vector<std::vector<float>> channels)
    : format_(std::move(format)),
      frameCapacity_(channels.empty() ? 0 : static_cast<AVAudioFrameCount>(channels[0].size())),
      frameLength_(frameCapacity_), samples_(std::move(channels)) {
    samples_.resize(format_->channelCount());
    for (auto& channel : samples_) channel.resize(frameCapacity_, 0.0f);
    describeBuffers();
}

void AVAudioPCMBuffer::describeBuffers() {
    const AVAudioChannelCount channels = format_->channelCount();
    original_.resize(channels);
    mutable_.resize(channels);
    for (AVAudioChannelCount c = 0; c < channels; ++c) {
        const AudioBuffer buffer{1, static_cast<std::uint32_t>(frameCapacity_ * sizeof(float)),
                                 samples_[c].data()};
        original_.get()->mBuffers[c] = buffer;
        mutable_.get()->mBuffers[c] = buffer;
    }
}
