#include "platform/audio/AUAudioUnitBus.h"

namespace {
bool acceptable(const AVAudioFormat* format, AVAudioChannelCount maximumChannels) {
    return format != nullptr && format->channelCount() > 0 && format->channelCount() <= maximumChannels &&
           format->sampleRate() > 0.0;
}
} // namespace

std::shared_ptr<AUAudioUnitBus> AUAudioUnitBus::make(std::shared_ptr<const AVAudioFormat> format,
                                                     OSStatus* error) {
    if (!acceptable(format.get(), 0xffffffffu)) {
        if (error) *error = kAudioUnitErr_FormatNotSupported;
        return nullptr;
    }
    if (error) *error = noErr;
    return std::make_shared<AUAudioUnitBus>(std::move(format));
}

bool AUAudioUnitBus::setFormat(std::shared_ptr<const AVAudioFormat> format, OSStatus* error) {
    if (!acceptable(format.get(), maximumChannelCount_)) {
        if (error) *error = kAudioUnitErr_FormatNotSupported;
        return false;
    }
    if (error) *error = noErr;
    format_ = std::move(format);
    return true;
}
