#pragma once

#include <cstdint>
#include <string>

// The sound card through SDL audio: 32-bit float, 48 kHz, stereo, interleaved;
// SDL converts where the device differs. The callback runs on SDL's audio
// thread and must fill `frames` frames. SDL_AUDIODRIVER=dummy or disk serves
// machines without a sound card.
class AudioDevice {
public:
    using Callback = void (*)(void* context, float* interleaved, int frames);

    // Opens and starts the device; throws NSError with SDL's reason when it cannot.
    AudioDevice(double sampleRate, int channels, int framesPerBuffer, Callback callback, void* context);
    // Stops the device; the callback has returned for good when this does.
    ~AudioDevice();
    AudioDevice(const AudioDevice&) = delete;
    AudioDevice& operator=(const AudioDevice&) = delete;

    const std::string& driverName() const { return driver_; }

private:
    static void trampoline(void* self, std::uint8_t* stream, int bytes);

    Callback callback_;
    void* context_;
    int channels_;
    std::uint32_t id_ = 0;
    std::string driver_;
};
