#pragma once

#include <memory>

#include "dsp/Analyzer.h"
#include "dsp/DynaBuffer.h"
#include "dsp/FFTBase.h"

namespace SPECTRO {

// Imposes the modulator's spectrum on the carrier: the carrier's bins are
// multiplied, part by part, by the modulator's and weighted by how much energy
// the modulator has in each semitone of a chosen note range.
class CrossModulator : public FFTBase {
public:
    // Amount 1, all MIDI notes weighted.
    CrossModulator(int size, int overlap, float samplerate);
    ~CrossModulator() override = default;

    // Needs both signals: see process(modulator, carrier, n).
    void process(float* /*buffer*/, int /*n*/) noexcept override {}
    void init() override;
    void clear() noexcept override;
    void onBufferReady() override;
    // Re-sorts the modulator into semitones every eighth frame; no display levels.
    void onAnalysis(float* freqs, float* mags) override;
    void onComplex(float* c) override;
    // MIDI notes [from, to) whose energy weights the bins.
    virtual void setRange(int from, int to);
    // Scales the result; the product of two spectra is far louder than either, so
    // useful amounts are small. A value that is not finite is ignored.
    virtual void setAmount(float a);
    virtual float getAmount() { return amount; }
    // The carrier is replaced in place, delayed by getDelay() samples.
    virtual void process(float* modulator, float* carrier, int n) noexcept;
    virtual void crossmodulate();
    virtual void createChromaticBands();

private:
    void sizeBuffers();
    // Weight of bin k: the energy of its semitone, 0 without one.
    float weightOf(const float* noteWeights, int k) const;

    float amount = 1.0f;
    int rangeFrom = 0;
    int rangeTo = 128;
    DynaBuffer carrierFifo;
    DynaBuffer carrierSpectrum;
    Scala scala;
    int frameCount = 0;
    std::unique_ptr<int[]> binToTone;
    int binToToneSize = 0;
};

// A filter with one gain per semitone: every bin is scaled by the gain of the
// tone its true frequency was sorted into on the last analysed frame.
class ChromaticFilter : public Analyzer {
public:
    // All gains 1, chromatic sorting on, every frame analysed.
    ChromaticFilter(int size, int overlap, float samplerate);
    ~ChromaticFilter() override = default;

    using Analyzer::process;
    // In place, delayed by getDelay() samples.
    void process(float* buffer, int n) noexcept override;
    void onBufferReady() override;
    void onComplex(float* c) override;
    // Silences the notes outside [from, to] (inside it when inverted), then sets
    // the tones beyond the MIDI range to `outside`.
    virtual void setChromaticFilterRange(int from, int to, float outside);
    // values[t] for tone t = 3..130 (MIDI 0..127) through the band-gain curve;
    // a null array only sets the tones beyond the MIDI range.
    virtual void setChromaticFilterBands(const float* values, float outside);
    // Gain 2v of a MIDI note's tone, squared above 1, so 0.5 is unity.
    virtual void setChromaticFilterBand(int note, float v);
    // Gain v of a MIDI note's tone, as given.
    virtual void setChromaticFilterBand2(int note, float v);
    virtual void setInverted(bool b) { inverted = b; }
    // Gain of the tones below MIDI note 0 and above 127.
    virtual void setOutsideRange(float v);
    // Scales every bin of c (null: the working spectrum) by its tone's gain.
    virtual void filter(float* c);
    virtual void createChromaticSpectrum() { createSpectrum(); }

    // Gain of tone t (MIDI note t - 3); 0 for a tone the scale does not have.
    float getToneGain(int t) const;

protected:
    // One frame through: transform, analysis when asked, the hooks, resynthesis.
    void runFrame(bool analyse);
    // table[tone of bin k]; 1 while no bin map exists, which leaves the bin as it is.
    float toneValue(const float* table, int k) const;
    // Zeroes the MIDI tones of table outside [from, to], or inside it when inverted.
    void silenceByRange(float* table, int from, int to) const;
    // Sets the tones of table beyond the MIDI range to v.
    static void setBeyondMidi(float* table, float v);

    float gains[Scala::kTones];
    bool inverted = false;
};

// Per-semitone pitch ratios, magnitude scaling or gains on a phase vocoder. A
// bin takes the value of the tone it was sorted into: pitch ratios in modes 0
// and 1, the filter's gains in modes 2 and 3.
class ChromaticPitch : public ChromaticFilter {
public:
    enum Mode { kShiftPitches = 0, kShiftMagnitudes = 1, kGain = 2, kFilter = 3, kResynthesis = 4 };

    // Mode kShiftPitches, all ratios and gains 1.
    ChromaticPitch(int size, int overlap, float samplerate);
    ~ChromaticPitch() override = default;

    void init() override;
    void clear() noexcept override;
    void onBufferReady() override;
    void onComplex(float* c) override;
    void setChromaticFilterRange(int from, int to, float outside) override;
    void setOutsideRange(float v) override;
    // Any mode other than 0..3 resynthesises the spectrum unchanged.
    virtual void setMode(int m) { mode = m; }
    virtual int getMode() { return mode; }
    // values[t] for tone t = 3..130 through the ratio curve; nothing for a null array.
    virtual void setChromaticPitches(const float* values, float range);
    // Ratio v * range for v > 0, 1 + v + 1 / range for v < 0, 1 for 0; a result
    // that is not finite is ignored.
    virtual void setChromaticPitch(int note, float v, float range);
    // Moves each bin by its note's ratio with its frequency scaled alike; a ratio
    // of 0.01 or less silences the note.
    virtual void shiftPitches();
    // Moves each bin by its note's ratio and scales its magnitude by it, keeping
    // its frequency; a ratio of 0 or less silences the note.
    virtual void shiftMagnitudes();
    // Scales each bin's magnitude by its note's gain, on the analysed phases.
    virtual void filter2();
    // Analyse only at the update rate, as the filter may, instead of every frame.
    void setAnalysisAtUpdateRate(bool on) { analysisAtUpdateRate = on; }

    // Ratio of tone t; 0 for a tone the scale does not have.
    float getTonePitch(int t) const;
    const float* getSynthesisPhases() const { return synthesisPhases.getBuffer(); }

private:
    enum class Shift { Pitch, Magnitude };
    void sizeBuffers();
    // Source bin j goes to bin j * r, r being its tone's ratio.
    void shiftBins(Shift how);
    // Mirrors are not written: the overlap-add's factor 2 makes up for them.
    void clearNegativeHalf();

    DynaBuffer shiftedFrequencies;
    DynaBuffer shiftedMagnitudes;
    DynaBuffer synthesisPhases;
    float ratios[Scala::kTones];
    bool analysisAtUpdateRate = false;
    int mode = kShiftPitches;
};

// A bank of wavelet band-passes from 110 Hz to 880 Hz: each scale passes the
// frame's spectrum around its frequency, and the sum of the bands is the output.
class SuperSpectro : public FFTBase {
public:
    SuperSpectro(int size, int overlap, float samplerate);
    ~SuperSpectro() override = default;

    // In place, delayed by getDelay() samples; nothing for a null buffer.
    void process(float* buffer, int n) noexcept override;
    // Adds one hop to the output instead of copying it, so the scales sum up.
    void doOutput(float* out) override;
    void init() override;
    void clear() noexcept override;
    void onBufferReady() override;
    // Resynthesises a band spectrum into the output.
    virtual void complex2buffer2(float* c);

    // Gaussian wavelet of centre 1 / f bins and quality c, evaluated at bin k.
    static float wavelet(int k, float f, float c);

private:
    // Adds the band of period s (samples) to the band spectrum; false when the
    // band runs past the spectrum.
    bool addBand(double s);

    DynaBuffer bandSpectrum;
};

} // namespace SPECTRO
