#pragma once

#include <memory>

#include "platform/audio/AVAudioPCMBuffer.h"

// The app's demo loops "1.m4a" ... "80.m4a", made from a recipe per number:
// a tempo, a few whole bars of plucks, noise bursts, chord stabs and short
// melodies with rests between them (where a reverb's tail is heard), each
// event's tail wrapped around the loop's end so that it repeats seamlessly,
// peaks at -3 dBFS, 48 kHz stereo.
namespace loops {

inline constexpr int kCount = 80;
inline constexpr double kSampleRate = 48000.0;
inline constexpr float kPeak = 0.70794578f; // -3 dBFS

struct Recipe {
    int tempo; // beats per minute
    int bars;  // of four beats
    AVAudioFrameCount frames;
};

// Number 1 to kCount.
Recipe recipe(int number);
std::shared_ptr<AVAudioPCMBuffer> render(int number);

} // namespace loops
