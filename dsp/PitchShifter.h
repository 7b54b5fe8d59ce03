#pragma once

#include "dsp/FFTBase.h"
#include "dsp/Interpolator2.h"

namespace SPECTRO {

// Transposes one mono signal by a frequency ratio: every output bin takes the
// magnitude and scaled true frequency of one source bin, resynthesised with a
// phase accumulator of its own.
class PitchShifter : public FFTBase {
public:
    PitchShifter(int size, int overlap, float samplerate);

    // In place. At a ratio of exactly 1.0 the buffer is left untouched and
    // the FIFOs stand still.
    void process(float* buffer, int n) noexcept override;
    void onBufferReady() override;
    void onAnalysis(float* freqs, float* mags) override;
    // The frequency ceiling follows the rate.
    void setSamplerate(float value) override;
    // Keeps the shifted spectra as large as the frame.
    void init() override;
    // Also forgets the synthesis phases, which could hold old audio or a NaN.
    void clear() noexcept override;
    using FFTBase::onComplex;

    // Glides to the new ratio over kGlideFrames frames; a non-finite ratio is ignored.
    virtual void setShift(float ratio) noexcept;
    virtual float getShift() { return fShift; }
    virtual void onComplex() {}
    virtual void shiftPitch();

    static constexpr long kGlideFrames = 12;

protected:
    bool bAntiAliasing = true;
    float fShift = 1.0f;
    Interpolator2 interp;
    DynaBuffer frequencies2, magnitudes2, phases2;
    float maxFreq = 24000.0f;

private:
    void ensureShiftBuffers();
};

} // namespace SPECTRO
