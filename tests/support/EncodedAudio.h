#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testkit {

// A stretch of an encoded stream: a sine on every channel (channel k at
// partFrequency(k)), or digital silence at amplitude 0.
struct EncodedPart {
    int channels;
    int sampleRate;
    std::int64_t frames;
    float amplitude = 0.5f;
};

inline double partFrequency(int channel) { return 300.0 + 400.0 * channel; }

// `parts` encoded one after another by FFmpeg's `encoder` ("mp2", "aac",
// "flac") into the raw stream of `muxer` ("mp2", "adts", "flac"), each part
// with an encoder and headers of its own: a stream whose layout or rate
// changes where the parts do. Empty when FFmpeg cannot make it.
std::vector<std::uint8_t> encodedAudio(const std::string& muxer, const std::string& encoder,
                                       const std::vector<EncodedPart>& parts);

} // namespace testkit
