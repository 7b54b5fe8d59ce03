#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "dsp/DynaBuffer.h"
#include "dsp/VectorMath.h"

// Nearest integer, halves rounded up; saturates instead of overflowing, and
// NaN gives 0.
inline int round1(float x) {
    const float r = std::floor(x + 0.5f);
    if (std::isnan(r)) return 0;
    if (!(r > static_cast<float>(std::numeric_limits<int>::min()))) return std::numeric_limits<int>::min();
    if (!(r < static_cast<float>(std::numeric_limits<int>::max()))) return std::numeric_limits<int>::max();
    return static_cast<int>(r);
}

namespace SPECTRO {

using VectorMath::kPi;
using VectorMath::kTwoPi;

// Takes a phase within one turn of [-pi, pi) into it.
inline float foldIntoRange(float phase) {
    if (phase >= kPi) phase -= kTwoPi;
    if (phase < -kPi) phase += kTwoPi;
    return phase < kPi ? phase : -kPi;
}

// wrapPhase() beyond a million radians, or not finite.
float wrapLargePhase(float phase);

// Maps a phase accumulator back into [-pi, pi); a non-finite one restarts at 0
// so a single bad sample cannot poison a bin forever.
inline float wrapPhase(float phase) {
    if (!(std::fabs(phase) < 1.0e6f)) return wrapLargePhase(phase);
    constexpr float turnsPerRadian = 1.0f / kTwoPi;
    return foldIntoRange(phase - kTwoPi * static_cast<float>(static_cast<int>(phase * turnsPerRadian)));
}

// Phase of each of n interleaved complex values, as atan2(im, re).
void phasesOf(const float* c, float* phases, int n);
// Interleaved mags[k] * (cos, sin)(phases[k]) for phases in [-pi, pi].
void polarToComplex(const float* mags, const float* phases, float* c, int n);

// Short-time Fourier analysis and resynthesis: Hann window, input FIFO with
// overlap, in-place radix-2 complex FFT, phase-vocoder frequency estimate and
// overlap-add output. Every step is virtual so a processor can hook or replace
// one of them; all of it runs on the audio thread.
class FFTBase {
public:
    // A bad size, overlap or rate falls back to 1024, 4 (at most the size) and 48000 Hz.
    FFTBase(int size, int overlap, float samplerate);
    virtual ~FFTBase() = default;
    FFTBase(const FFTBase&) = delete;
    FFTBase& operator=(const FFTBase&) = delete;

    // A rate that is not finite and positive is ignored.
    virtual void setSamplerate(float value);
    // A size that is not a power of two in [2, kMaxFrameSize], or an overlap
    // outside [1, size], is ignored and the old layout kept.
    virtual void setSize(int value);
    virtual void setOverlap(int value);
    virtual float getSamplerate() { return fSamplerate; }
    virtual int getSize() { return lFrameSize; }
    virtual int getOverlap() { return lOverlap; }

    virtual float* getFrequencies() { return frequencies.getBuffer(); }
    virtual float* getMagnitudes() { return magnitudes.getBuffer(); }
    virtual float* getMagnitudesNormalized() { return magnitudes_norm.getBuffer(); }
    virtual float* getMagnitudesPeaks() { return magnitudes_peaks.getBuffer(); }
    virtual float* getPhases() { return phases.getBuffer(); }
    virtual float* getWave() { return input.getBuffer(); }
    virtual float getFrequencies(int i) { return frequencies[i]; }
    virtual float getMagnitudes(int i) { return magnitudes[i]; }
    virtual float getMagnitudesNormalized(int i) { return magnitudes_norm[i]; }
    virtual float getMagnitudesPeaks(int i) { return magnitudes_peaks[i]; }
    virtual float getPhases(int i) { return phases[i]; }
    virtual float getWave(int i) { return input[i]; }

    virtual void process(float* buffer, int n) noexcept = 0;
    virtual void reset() noexcept { clear(); }

    // Null pointers select the object's own buffers.
    virtual void buffer2complex(float* src, float* dst);
    virtual void complex2frequencies(float* c);
    virtual void frequencies2complex(float* mags, float* freqs, float* phaseAcc, float* c);
    virtual void complex2buffer(float* c, float* out);
    virtual void doOutput(float* out);
    virtual void shiftInput(float* buf);
    virtual void shiftResyn();
    virtual void init();
    virtual void clear() noexcept;
    virtual void onBufferReady() = 0;
    virtual void onAnalysis(float* freqs, float* mags);
    virtual void onComplex(float* /*c*/) {}
    // Unscaled in-place transform of fftFrameSize interleaved complex values;
    // sign -1 is forward (exp(-i...)), +1 inverse.
    virtual void fft(int sign, float* buf);

    static constexpr int kMaxFrameSize = 1 << 24;
    static bool isValidLayout(int size, int overlap);

    int getStepSize() const { return stepSize; }
    // Where the input FIFO restarts after each frame.
    int getFifoLatency() const { return inFifoLatency; }
    // Samples from a sample going in to its coming out: the FIFO latency
    // plus one hop, since a hop is output only once its last frame is in.
    int getDelay() const { return fftFrameSize; }

protected:
    // One sample through the FIFOs: stores x, returns the output sample due
    // now and runs onBufferReady() whenever a full frame is in.
    float stream(float x) {
        input[iterator] = x;
        const float y = output[iterator - inFifoLatency];
        if (++iterator >= fftFrameSize) {
            iterator = inFifoLatency;
            onBufferReady();
            shiftInput(nullptr);
        }
        return y;
    }
    bool canStream() const { return input.getBuffer() != nullptr && output.getBuffer() != nullptr; }

    DynaBuffer window, complex, input, output, frequencies, magnitudes, magnitudes_norm, magnitudes_peaks,
        phases, resynth;
    // Twiddle factors per pass, built in init(); the transform's split rows.
    DynaBuffer twiddles, scratch;
    // Source of each position after the bit-reversal permutation.
    std::vector<std::uint32_t> bitReversed;

    int lFrameSize = 0;
    float fSamplerate = 48000.0f;
    int lOverlap = 0;
    float max = 1.0f;
    float freqPerBin = 0.0f;
    float expct = 0.0f;
    int fftFrameSize = 0;
    int fftFrameSize2 = 0;
    int _2fftFrameSize = 0;
    int inFifoLatency = 0;
    int osamp = 0;
    int stepSize = 0;
    int iterator = 0;

private:
    float hopsPerFrame() const;
    void buildTables();
    template <class Source>
    static void gatherFirstPasses(Source source, float* re, float* im, int n, float direction);
    void laterPasses(float* re, float* im, int n, float sign) const;
    void realForward(const float* src, float* dst);
    void unpickRealSpectrum(const float* re, const float* im, float* dst) const;
};

} // namespace SPECTRO
