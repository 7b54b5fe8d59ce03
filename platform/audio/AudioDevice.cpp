#include "platform/audio/AudioDevice.h"

#include <SDL2/SDL.h>

#include "platform/foundation/NSError.h"

namespace {
constexpr int kAudioDeviceError = -10851;

// SDL keeps per-thread data (its error text) for threads it did not make
// until told otherwise; the engine opens and closes devices on any thread.
struct ThreadDataCleanup {
    ~ThreadDataCleanup() { SDL_TLSCleanup(); }
};
} // namespace

AudioDevice::AudioDevice(double sampleRate, int channels, int framesPerBuffer, Callback callback,
                         void* context)
    : callback_(callback), context_(context), channels_(channels) {
    const ThreadDataCleanup cleanup;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        throw NSError(kAudioDeviceError, std::string("The audio system could not start: ") + SDL_GetError());
    SDL_AudioSpec wanted{};
    wanted.freq = static_cast<int>(sampleRate);
    wanted.format = AUDIO_F32SYS;
    wanted.channels = static_cast<Uint8>(channels);
    wanted.samples = static_cast<Uint16>(framesPerBuffer);
    wanted.callback = &AudioDevice::trampoline;
    wanted.userdata = this;
    SDL_AudioSpec obtained{};
    // No allowed changes: SDL converts to whatever the device really does.
    id_ = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (id_ == 0) {
        const std::string reason = SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        throw NSError(kAudioDeviceError, "The audio device could not be opened: " + reason);
    }
    if (const char* driver = SDL_GetCurrentAudioDriver()) driver_ = driver;
    SDL_PauseAudioDevice(id_, 0);
}

AudioDevice::~AudioDevice() {
    const ThreadDataCleanup cleanup;
    SDL_CloseAudioDevice(id_); // waits for the audio thread
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void AudioDevice::trampoline(void* self, std::uint8_t* stream, int bytes) {
    auto* device = static_cast<AudioDevice*>(self);
    const int frames = bytes / static_cast<int>(sizeof(float)) / device->channels_;
    device->callback_(device->context_, reinterpret_cast<float*>(stream), frames);
}
