#pragma once

#include <memory>

#include "platform/audio/AVAudioPCMBuffer.h"
#include "platform/foundation/URL.h"

// An audio file read whole through FFmpeg into non-interleaved float at its
// own sample rate and channel count.
class AVAudioFile {
public:
    // Throws NSError for a missing, unreadable or undecodable file, or one
    // without audio.
    explicit AVAudioFile(const URL& url);

    const URL& url() const { return url_; }
    // The decoded samples' format: float, non-interleaved.
    const std::shared_ptr<const AVAudioFormat>& processingFormat() const { return buffer_->format(); }
    // Frames in the file.
    std::int64_t length() const { return buffer_->frameLength(); }
    // All of it.
    const std::shared_ptr<const AVAudioPCMBuffer>& buffer() const { return buffer_; }

    // Writes the buffer's frames losslessly (ALAC, 24 bit) into an ".m4a" file,
    // replacing one that is there. Throws NSError.
    static void writeLossless(const URL& url, const AVAudioPCMBuffer& buffer);

private:
    URL url_;
    std::shared_ptr<const AVAudioPCMBuffer> buffer_;
};
