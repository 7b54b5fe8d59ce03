#pragma once

#include <memory>
#include <string>

#include "platform/audio/AVAudioFormat.h"

// One input or output bus of an audio unit: its format, the most channels it
// accepts, and whether the host should allocate its buffers.
class AUAudioUnitBus {
public:
    // Fails (null, with *error set) for a format the bus cannot carry.
    static std::shared_ptr<AUAudioUnitBus> make(std::shared_ptr<const AVAudioFormat> format,
                                                OSStatus* error = nullptr);

    const std::shared_ptr<const AVAudioFormat>& format() const { return format_; }
    // Refuses formats with no channels, more channels than allowed, or no rate.
    [[nodiscard]] bool setFormat(std::shared_ptr<const AVAudioFormat> format, OSStatus* error = nullptr);

    AVAudioChannelCount maximumChannelCount() const { return maximumChannelCount_; }
    void setMaximumChannelCount(AVAudioChannelCount count) { maximumChannelCount_ = count; }

    bool shouldAllocateBuffer() const { return shouldAllocateBuffer_; }
    void setShouldAllocateBuffer(bool allocate) { shouldAllocateBuffer_ = allocate; }

    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }

    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }

    explicit AUAudioUnitBus(std::shared_ptr<const AVAudioFormat> format) : format_(std::move(format)) {}

private:
    std::shared_ptr<const AVAudioFormat> format_;
    AVAudioChannelCount maximumChannelCount_ = 0xffffffffu;
    bool shouldAllocateBuffer_ = false;
    bool enabled_ = true;
    std::string name_;
};
