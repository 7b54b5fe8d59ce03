#include "dsp/PitchShifter.h"

#include <algorithm>
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
    // tiny ratio it is far beyond any int. floor(t) <= lastBin exactly when
    // t < lastBin + 1, and t is at least 0.5, so inside the spectrum the
    // truncation is the floor.
    using namespace VectorMath;
    const Lanes beyond = splat(static_cast<float>(fftFrameSize2) + 1.0f);
    const Lanes ceiling = splat(maxFreq);
    const int bins = fftFrameSize2 + 1;
    const int whole = bins - bins % 4;
    const auto fourBins = [&](int k, float* m2, float* f2) {
        const Lanes bin = splat(static_cast<float>(k)) + Lanes{0.0f, 1.0f, 2.0f, 3.0f};
        const Lanes t = bin / ratio + 0.5f;
        Mask keep = t < beyond;
        const Mask source = __builtin_convertvector(select(keep, t, splat(0.0f)), Mask);
        float m[4], f[4];
        for (int i = 0; i < 4; ++i) {
            m[i] = mags[source[i]];
            f[i] = freqs[source[i]];
        }
        const Lanes freq = load(f) * ratio;
        if (bAntiAliasing) keep &= ~(freq > ceiling);
        store(m2, select(keep, load(m), splat(0.0f)));
        store(f2, select(keep, freq, splat(0.0f)));
    };
    for (int k = 0; k < whole; k += 4) fourBins(k, mags2 + k, freqs2 + k);
    if (whole < bins) {
        float m2[4], f2[4];
        fourBins(whole, m2, f2);
        std::copy_n(m2, bins - whole, mags2 + whole);
        std::copy_n(f2, bins - whole, freqs2 + whole);
    }

    frequencies2complex(mags2, freqs2, phases2.getBuffer(), c);
    // Only the positive half is resynthesised; the overlap-add's factor 2 makes up for it.
    std::memset(c + fftFrameSize + 2, 0, static_cast<std::size_t>(fftFrameSize - 2) * sizeof(float));
}

} // namespace SPECTRO
