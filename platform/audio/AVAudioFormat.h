#pragma once

#include <memory>

#include "platform/audio/AudioTypes.h"

// Only the standard format is needed: deinterleaved 32-bit float.
class AVAudioFormat {
public:
    AVAudioFormat(double sampleRate, AVAudioChannelCount channelCount)
        : sampleRate_(sampleRate), channelCount_(channelCount) {}

    static std::shared_ptr<AVAudioFormat> standardFormat(double sampleRate, AVAudioChannelCount channels) {
        return std::make_shared<AVAudioFormat>(sampleRate, channels);
    }

    double sampleRate() const { return sampleRate_; }
    AVAudioChannelCount channelCount() const { return channelCount_; }
    bool isInterleaved() const { return false; }
    bool isStandard() const { return true; }

    friend bool operator==(const AVAudioFormat& a, const AVAudioFormat& b) {
        return a.sampleRate_ == b.sampleRate_ && a.channelCount_ == b.channelCount_;
    }

private:
    double sampleRate_;
    AVAudioChannelCount channelCount_;
};
