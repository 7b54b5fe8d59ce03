#include "dsp/PitchShifter.h"

#include <cmath>
#include <cstring>

namespace SPECTRO {

PitchShifter::PitchShifter(int size, int overlap, float samplerate)
    : FFTBase(size, overlap, samplerate), maxFreq(fSamplerate / 2.0f) {
    ensureShiftBuffers();
    setShift(1.0f);
    interp.setInitialValue(fShift);
}

void PitchShifter::ensureShiftBuffers() {
    frequencies2.ensure(fftFrameSize2 + 1);
    magnitudes2.ensure(fftFrameSize2 + 1);
    phases2.ensure(fftFrameSize2 + 1);
}

void PitchShifter::init() {
    FFTBase::init();
    ensureShiftBuffers();
}

void PitchShifter::clear() noexcept {
    FFTBase::clear();
    frequencies2.clear();
    magnitudes2.clear();
    phases2.clear();
}

void PitchShifter::setSamplerate(float value) {
    FFTBase::setSamplerate(value);
    maxFreq = fSamplerate / 2.0f;
}

void PitchShifter::setShift(float ratio) noexcept {
    if (!std::isfinite(ratio)) return;
    fShift = ratio;
    interp.setDestinationValue(ratio, kGlideFrames);
}

void PitchShifter::process(float* buffer, int n) noexcept {
    if (fShift == 1.0f) return;
    if (buffer == nullptr || !canStream()) return;
    for (int i = 0; i < n; ++i) buffer[i] = stream(buffer[i]);
}

void PitchShifter::onBufferReady() {
    buffer2complex(nullptr, nullptr);
    if (fShift != 1.0f) complex2frequencies(nullptr);
}

void PitchShifter::onAnalysis(float* /*freqs*/, float* /*mags*/) {
    if (fShift != 1.0f) shiftPitch();
    complex2buffer(nullptr, nullptr);
}

void PitchShifter::shiftPitch() {
    float* mags = magnitudes.getBuffer();
    float* freqs = frequencies.getBuffer();
    float* mags2 = magnitudes2.getBuffer();
    float* freqs2 = frequencies2.getBuffer();
    float* c = complex.getBuffer();
    if (mags == nullptr || freqs == nullptr || mags2 == nullptr || freqs2 == nullptr || c == nullptr ||
        phases2.getBuffer() == nullptr)
        return;

    // DC never contributes.
    mags[0] = 0.0f;
    freqs[0] = 0.0f;
    const float ratio = interp.getValue();
    if (!(ratio > 0.0f)) return;

    // The source position stays a float until it is known to be a bin: with a
    // tiny ratio it is far beyond any int.
    const float lastBin = static_cast<float>(fftFrameSize2);
    for (int k = 0; k <= fftFrameSize2; ++k) {
        const float source = std::floor(static_cast<float>(k) / ratio + 0.5f);
        float mag = 0.0f;
        float freq = 0.0f;
        if (source <= lastBin) {
            const int j = static_cast<int>(source);
            freq = freqs[j] * ratio;
            mag = mags[j];
            if (bAntiAliasing && freq > maxFreq) mag = freq = 0.0f;
        }
        mags2[k] = mag;
        freqs2[k] = freq;
    }

    frequencies2complex(mags2, freqs2, phases2.getBuffer(), c);
    // Only the positive half is resynthesised; the overlap-add's factor 2 makes up for it.
    std::memset(c + fftFrameSize + 2, 0, static_cast<std::size_t>(fftFrameSize - 2) * sizeof(float));
}

} // namespace SPECTRO
