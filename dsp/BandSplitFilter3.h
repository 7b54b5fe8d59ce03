#pragma once

#include "dsp/Denormal.h"
#include "dsp/Interpolator2.h"
#include "dsp/Modulator.h"

// State-variable filter of up to four stages that run side by side on the
// same input; the output is taken from the last stage run. Its cutoff is a
// normalised control value mapped through the logarithmic frequency curve.
class SVFilter4Pole1 {
public:
    SVFilter4Pole1();

    void setSamplerate(float rate) { fSamplerate = rate; }
    void setCutoff(float c) noexcept;
    // Recomputes the coefficients when the mapped cutoff or the resonance changed.
    void processParameters() noexcept;
    // State cleared, cutoff back to 0.5, resonance 0.
    void reset() noexcept;
    void init() { reset(); }

    // out = filtered input, rest = input - out. `in` may be the same buffer as `rest`.
    void processBufferHP(const float* in, float* out, float* rest, int n) noexcept;
    void processBufferLP(const float* in, float* out, float* rest, int n) noexcept;
    void processSampleHP(const float* in, float* out, float* rest) noexcept {
        processBufferHP(in, out, rest, 1);
    }
    void processSampleLP(const float* in, float* out, float* rest) noexcept {
        processBufferLP(in, out, rest, 1);
    }
    void processSampleHP(float* sample) noexcept;
    void processSampleLP(float* sample) noexcept;

    // A filter whose stages are in step, held in locals over one block so that
    // callers can interleave several filters; finish() hands the state back.
    class Runner;
    // True when one stage can stand for all the active ones (always, unless a
    // caller changed fPoles or the stage state by hand).
    bool stagesInStep() const;

    float fPoles = 3.0f; // a stage k (1..4) runs when fPoles > k - 1; the first always runs
    float fMode = 0.0f;
    float fSamplerate = 48000.0f;
    float f = 0.0f;
    float fCutoff = 0.5f;
    float fResonance = 0.0f;
    float cutoff = 0.5f;
    float resonance = 0.0f;
    float booster = 0.0f;
    float cf = 0.0f;
    float cq = 0.0f;
    float b1 = 0.0f, r1 = 0.0f, b2 = 0.0f, r2 = 0.0f, b3 = 0.0f, r3 = 0.0f, b4 = 0.0f, r4 = 0.0f;
    Interpolator2 interpolator;
    Modulator modulator; // its construction builds the shared cutoff curve

private:
    enum class Pass { High, Low };
    struct Stage;

    int activeStages() const;
    Stage loadStage(int k) const;
    void storeStage(int k, Stage stage);
    template <Pass P> void process(const float* in, float* out, float* rest, int n);
    template <Pass P> void processEachStage(const float* in, float* out, float* rest, int n);
};

// One stage: band (b) and low (r) integrators, both flushed as they decay.
struct SVFilter4Pole1::Stage {
    float b, r;

    template <Pass P> float tick(float x, float freq, float damping) {
        const float low = r + freq * b;
        const float high = 0.5f * x - low - damping * b;
        b = flushDenormal(b + freq * high);
        r = flushDenormal(low);
        return P == Pass::High ? high : low;
    }

    // Once the band integrator is 0 and the step that would move the low one is
    // itself below the flush level, flushing has frozen the stage on a residue
    // it would hold forever: clear it, so silence really ends at 0.
    void settle(float freq) {
        if (b == 0.0f && flushDenormal(freq * r) == 0.0f) r = 0.0f;
    }
};

class SVFilter4Pole1::Runner {
public:
    explicit Runner(SVFilter4Pole1& filter)
        : owner(filter), stage{filter.b1, filter.r1}, freq(filter.cf), damping(filter.cq),
          gain(filter.booster) {}

    float high(float x) { return output(stage.tick<Pass::High>(x, freq, damping)); }
    float low(float x) { return output(stage.tick<Pass::Low>(x, freq, damping)); }
    void finish();

private:
    float output(float v) const { return flushDenormal(v * gain); }

    SVFilter4Pole1& owner;
    Stage stage;
    float freq, damping, gain;
};

// Splits a stereo block into low, band and high parts that sum to the input:
// the high part above fCutoff2, the low part below fCutoff1, the band between.
class BandSplitFilter3 {
public:
    static constexpr int kMaxFrames = 4096;

    BandSplitFilter3();

    void setSamplerate(float rate);
    // Values outside 0..1 are ignored; fCutoff1 never rises above fCutoff2.
    void setCutoff1(float v) noexcept;
    void setCutoff2(float v) noexcept;
    // Clears the bands and the filter state; the cutoffs stay where they were set.
    void reset() noexcept;
    void init() { reset(); }
    void clear() noexcept;

    // Fills the six band buffers from up to kMaxFrames frames; the input is left as it is.
    void split(const float* left, const float* right, int n) noexcept;

    float* getLPLeft() { return bufferLP[0]; }
    float* getLPRight() { return bufferLP[1]; }
    float* getBPLeft() { return bufferBP[0]; }
    float* getBPRight() { return bufferBP[1]; }
    float* getHPLeft() { return bufferHP[0]; }
    float* getHPRight() { return bufferHP[1]; }

    float fGainLP = 1.0f;
    float fGainBP = 1.0f;
    float fGainHP = 1.0f;
    float fSamplerate = 48000.0f;
    float fCutoff1 = 0.33f;
    float fCutoff2 = 0.66f;
    float bufferLP[2][kMaxFrames];
    float bufferHP[2][kMaxFrames];
    float bufferBP[2][kMaxFrames];
    SVFilter4Pole1 lpf[2];
    SVFilter4Pole1 hpf[2];

private:
    bool atRest() const;
    void splitEachFilter(const float* left, const float* right, int n) noexcept;
    void splitInterleaved(const float* left, const float* right, int n) noexcept;
};
