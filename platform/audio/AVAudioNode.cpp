#include "platform/audio/AVAudioNode.h"

#include <algorithm>
#include <cstdint>

#include "platform/audio/AVAudioEngine.h"

void mixChannels(const AVAudioNodeInput& input, float* const* output, AVAudioChannelCount outputChannels,
                 std::size_t frames, bool add) {
    // Kept as plain loops per case, so each one vectorises.
    for (AVAudioChannelCount c = 0; c < outputChannels; ++c) {
        float* to = output[c];
        if (input.channelCount == 0 ||
            (input.channelCount > 1 && outputChannels > 1 && c >= input.channelCount)) {
            if (!add) std::fill_n(to, frames, 0.0f);
        } else if (input.channelCount == 1 || outputChannels > 1) {
            const float* from = input.channels[input.channelCount == 1 ? 0 : c];
            if (add)
                for (std::size_t i = 0; i < frames; ++i) to[i] += from[i];
            else
                std::copy_n(from, frames, to);
        } else { // many into one: the average
            const float scale = 1.0f / static_cast<float>(input.channelCount);
            if (!add) std::fill_n(to, frames, 0.0f);
            for (AVAudioChannelCount k = 0; k < input.channelCount; ++k) {
                const float* from = input.channels[k];
                for (std::size_t i = 0; i < frames; ++i) to[i] += from[i] * scale;
            }
        }
    }
}

std::shared_ptr<const AVAudioFormat> AVAudioNode::defaultOutputFormat() const {
    return AVAudioFormat::standardFormat(AVAudioEngine::kDeviceSampleRate, AVAudioEngine::kDeviceChannels);
}

std::shared_ptr<const AVAudioFormat> AVAudioNode::outputFormatForBus(std::size_t bus) const {
    if (engine_)
        if (const auto connection = engine_->outputConnection(this, bus)) return connection->format;
    return defaultOutputFormat();
}

std::shared_ptr<const AVAudioFormat> AVAudioNode::inputFormatForBus(std::size_t bus) const {
    if (engine_)
        if (const auto connection = engine_->inputConnection(this, bus)) return connection->format;
    return nullptr;
}

std::size_t AVAudioMixerNode::numberOfInputs() const { return SIZE_MAX; }

void AVAudioMixerNode::render(const AVAudioNodeInput* inputs, std::size_t inputCount, float* const* output,
                              AVAudioChannelCount outputChannels, AVAudioFrameCount frames) {
    for (AVAudioChannelCount c = 0; c < outputChannels; ++c) std::fill_n(output[c], frames, 0.0f);
    for (std::size_t i = 0; i < inputCount; ++i) mixChannels(inputs[i], output, outputChannels, frames, true);
}

std::shared_ptr<const AVAudioFormat> AVAudioOutputNode::defaultOutputFormat() const {
    return engine() ? engine()->outputFormat() : AVAudioNode::defaultOutputFormat();
}

void AVAudioOutputNode::render(const AVAudioNodeInput* inputs, std::size_t inputCount, float* const* output,
                               AVAudioChannelCount outputChannels, AVAudioFrameCount frames) {
    mixChannels(inputCount > 0 ? inputs[0] : AVAudioNodeInput{}, output, outputChannels, frames, false);
}
