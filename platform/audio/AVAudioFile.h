#pragma once

#include <cstdint>
#include <memory>

#include "platform/audio/AVAudioPCMBuffer.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/URL.h"

// An audio file read whole through FFmpeg into non-interleaved float at its
// own sample rate (its first frame's) and channel count (the most any part of
// it has: a mono part is on every channel).
class AVAudioFile {
public:
    // Samples (frames times channels) a file may decode to: ten minutes of
    // 48 kHz stereo, 230 MB of float.
    static constexpr std::int64_t kMaximumSamples = 48000LL * 2 * 60 * 10;

    // Throws NSError for a missing, unreadable or undecodable file, one
    // without audio, anything but a regular file (a pipe or a device is not
    // waited on), or one longer than kMaximumSamples.
    explicit AVAudioFile(const URL& url);

    const URL& url() const { return url_; }
    // The decoded samples' format: float, non-interleaved.
    const std::shared_ptr<const AVAudioFormat>& processingFormat() const { return buffer_->format(); }
    // Frames in the file.
    std::int64_t length() const { return buffer_->frameLength(); }
    // All of it.
    const std::shared_ptr<const AVAudioPCMBuffer>& buffer() const { return buffer_; }
    // All of it at `sampleRate`: converted on first use, then kept. Throws
    // NSError when the result would be longer than kMaximumSamples.
    std::shared_ptr<const AVAudioPCMBuffer> buffer(double sampleRate) const;

    // Writes the buffer's frames losslessly (ALAC, 24 bit) into an ".m4a" file,
    // replacing one that is there. Throws NSError.
    static void writeLossless(const URL& url, const AVAudioPCMBuffer& buffer);

private:
    URL url_;
    std::shared_ptr<const AVAudioPCMBuffer> buffer_;
    mutable Mutex convertedMutex_;
    mutable std::shared_ptr<const AVAudioPCMBuffer> converted_ GUARDED_BY(convertedMutex_);
};
