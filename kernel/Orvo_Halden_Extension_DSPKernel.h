#pragma once

#include <atomic>
#include <cstdint>

#include "dsp/Analyzer.h"
#include "dsp/BandSplitFilter3.h"
#include "dsp/Compander.h"
#include "dsp/Delay.h"
#include "dsp/PSOLA.h"
#include "dsp/Panpot.h"
#include "dsp/PitchShifter.h"
#include "dsp/RelaxedAtomic.h"
#include "dsp/Reverb.h"
#include "kernel/DSPKernel.h"
#include "kernel/ParameterAddress.h"

// The effect: every buffer, parameter and processing object of the four band
// chains (band 0 full band; 1..3 low, middle, high of the splitter), held by
// value. About 100 MB, nearly all delay lines: always allocate it on the heap.
class Orvo_Halden_Extension_DSPKernel final : public DSPKernel {
public:
    static constexpr int kBands = 4;
    static constexpr AUAudioFrameCount kMaxSlice = 4096;
    static constexpr AUParameterAddress kLastAddress = kDynamicsRelease;
    // The spectrum analyser's frame.
    static constexpr int kAnalysisSize = 4096;

    using Param = RelaxedAtomic<float>;
    using BandParam = Param[kBands];

    Orvo_Halden_Extension_DSPKernel();
    Orvo_Halden_Extension_DSPKernel(const Orvo_Halden_Extension_DSPKernel&) = delete;
    Orvo_Halden_Extension_DSPKernel& operator=(const Orvo_Halden_Extension_DSPKernel&) = delete;

    // Set-up, off the render thread.
    void init(int channelCount, double sampleRate);
    void setSamplerate(float rate);
    void reset() noexcept;
    void clearBuffers() noexcept;

    // The parameter map: stores the field and pushes it into its objects.
    // Unknown addresses and non-finite values are ignored; levels and
    // coefficients are held to their range, so no setting can blow up.
    void setParameter(AUParameterAddress address, AUValue value) noexcept;
    AUValue getParameter(AUParameterAddress address) const noexcept;
    // The same from the host's or the editor's thread: the value is stored at
    // once, but while the render thread owns the objects (render resources
    // allocated) their update waits for its next slice, so that only the
    // render thread ever touches them.
    void setParameterFromHost(AUParameterAddress address, AUValue value) noexcept;
    void setRenderOwned(bool owned) noexcept { renderOwned = owned; }
    static float getDivision(float index);

    void setParameterAutomated(AUParameterAddress address, AUValue value,
                               AUEventSampleTime) noexcept override {
        setParameter(address, value);
    }
    void handleMIDIEvent(const AUMIDIEvent& midiEvent) noexcept override;
    void process(AUAudioFrameCount frameCount, AUAudioFrameCount bufferOffset) noexcept override;

    void setBuffers(const AudioBufferList* inBufferList, AudioBufferList* outBufferList) noexcept {
        inBufferListPtr = inBufferList;
        outBufferListPtr = outBufferList;
    }
    AUAudioFrameCount getMaximumFramesToRender() const { return maxFrames; }
    void setMaximumFramesToRender(AUAudioFrameCount frames) { maxFrames = frames; }
    bool getBypassed() const noexcept { return bBypass; }
    void setBypassed(bool bypass) noexcept { bBypass = bypass; }

    // Meters for the editor.
    float getPeakInput() const { return peakInput; }
    float getPeakOutput() const { return peakOutput; }
    float getSamplerate() const { return fSamplerate; }
    // The spectrum straight from the analyser, for the render thread or while
    // nothing renders (offline); the editor reads it across threads through
    // the adapter. The chromatic values 0..136, normalised.
    float* getMagnitudes();
    // The centre frequency of a note 1..127 on the analyser's scale, else 0.
    float getFrequency(int note);
    // The analysed bins up to a quarter of the rate in count (1..4096) places,
    // from linear (scaling 0) to logarithmic (1); fills scaled_frequencies too.
    float* getMagnitudesScaled(int count, float scaling);
    // Sums `bins` analysed bins into `count` places along 0 to a quarter of the
    // rate, from linear (scaling 0) to logarithmic (1), and takes the root of
    // each magnitude sum; each place's frequency halves what it held as a bin adds.
    void scaleSpectrum(const float* mags, const float* freqs, int bins, int count, float scaling,
                       float* scaledMagnitudes, float* scaledFrequencies) const;

    // Fields, in the order the chain uses them.
    float wet0L[kMaxSlice], wet0R[kMaxSlice], wet1L[kMaxSlice], wet1R[kMaxSlice];
    float wet2L[kMaxSlice], wet2R[kMaxSlice], wet3L[kMaxSlice], wet3R[kMaxSlice];
    float tempL[kMaxSlice], tempR[kMaxSlice];
    float scaled_magnitudes[kMaxSlice] = {}, scaled_frequencies[kMaxSlice] = {};

    int numChannels = 2;
    const AudioBufferList* inBufferListPtr = nullptr;
    AudioBufferList* outBufferListPtr = nullptr;

    Param fSamplerate = 48000.0f;
    Param fVolumeIn = 0.5f, fVolumeOut = 0.5f;
    Param fCurrentMode = 0.0f;
    Param fSplit1 = 0.25f, fSplit2 = 0.75f;
    BandParam fActive, fVolume;
    BandParam fReverbInput, fReverbDry, fReverbWet, fReverbSize, fReverbDamp, fReverbWidth, fReverbFreeze,
        fReverbOutput, fReverbModel, fReverbPan;
    BandParam fReverbPreDelay, fReverbPreDelayTempo, fReverbPreDelayFeedback, fReverbPreDelayDivision;
    BandParam fReverbPostDelay, fReverbPostDelayTempo, fReverbPostDelayFeedback, fReverbPostDelayDivision;
    BandParam fReverbPhaseSpeed, fReverbPhaseAmount, fReverbCompress, fReverbEnhance;
    BandParam fReverbShift, fReverbShiftAmount, fReverbShiftMix, fReverbShiftMode, fReverbShiftConnection;
    Param fDynamicsOn = 1.0f, fDynamicsMultiplier = 1.0f, fDynamicsAttack = 0.2f, fDynamicsHold = 0.1f,
          fDynamicsRelease = 0.5f;

    BandSplitFilter3 bands;
    Compander compander;
    SPECTRO::Analyzer analyzer;
    revmodelA reverbA[kBands];
    revmodelB reverbB[kBands];
    revmodelC reverbC[kBands];
    revmodelD reverbD[kBands];
    revmodelE reverbE[kBands];
    StereoDelay predelay[kBands];
    StereoDelay postdelay[kBands];
    Panpot panpot[kBands];
    StereoProcessor stereo[kBands];
    SPECTRO::PitchShifter pitch1L[kBands] = {
        {4096, 6, 48000.0f}, {4096, 6, 48000.0f}, {4096, 6, 48000.0f}, {4096, 6, 48000.0f}};
    SPECTRO::PitchShifter pitch1R[kBands] = {
        {4096, 6, 48000.0f}, {4096, 6, 48000.0f}, {4096, 6, 48000.0f}, {4096, 6, 48000.0f}};
    PSOLA::PitchShift pitch2L[kBands] = {
        {43.0f, 48000.0f}, {43.0f, 48000.0f}, {43.0f, 48000.0f}, {43.0f, 48000.0f}};
    PSOLA::PitchShift pitch2R[kBands] = {
        {43.0f, 48000.0f}, {43.0f, 48000.0f}, {43.0f, 48000.0f}, {43.0f, 48000.0f}};

    RelaxedAtomic<bool> bBypass = false;
    bool midiThru = false;
    RelaxedAtomic<AUAudioFrameCount> maxFrames = 4096;

    // Published at the end of every slice for the meters.
    RelaxedAtomic<float> peakInput = 0.0f, peakOutput = 0.0f;

private:
    // One parameter family: `count` bands from `firstBand` at consecutive
    // addresses from `base`, with what a new value sets in the objects.
    struct Family {
        AUParameterAddress base;
        int firstBand;
        int count;
        BandParam Orvo_Halden_Extension_DSPKernel::*field;
        void (Orvo_Halden_Extension_DSPKernel::*push)(int band);
        // Levels and coefficients are held to their dial; the rest are
        // indices, switches or times their users check themselves.
        bool dial = false;
    };
    static const Family kFamilies[];
    static const Family* findFamily(AUParameterAddress address);

    // Stores a value (held to its range); false for an unknown address or a non-finite value.
    [[nodiscard]] bool storeParameter(AUParameterAddress address, AUValue value) noexcept;
    void pushParameter(AUParameterAddress address) noexcept;
    void applyPendingParameters() noexcept;

    Param* scalarField(AUParameterAddress address);
    const Param* scalarField(AUParameterAddress address) const;
    void pushScalar(AUParameterAddress address) noexcept;
    void pushAll() noexcept;

    // Pushes of one band's stored values into its objects.
    void pushNothing(int) {}
    void pushDry(int b);
    void pushWet(int b);
    void pushSize(int b);
    void pushDamp(int b);
    void pushWidth(int b);
    void pushFreeze(int b);
    void pushModel(int b);
    void pushPan(int b);
    void pushPreDelayTempo(int b) { predelay[b].setTempo(fReverbPreDelayTempo[b]); }
    void pushPreDelayDivision(int b) { predelay[b].setDivision(getDivision(fReverbPreDelayDivision[b])); }
    void pushPreDelayFeedback(int b) { predelay[b].setFeedback(fReverbPreDelayFeedback[b]); }
    void pushPostDelayTempo(int b) { postdelay[b].setTempo(fReverbPostDelayTempo[b]); }
    void pushPostDelayDivision(int b) { postdelay[b].setDivision(getDivision(fReverbPostDelayDivision[b])); }
    void pushPostDelayFeedback(int b) { postdelay[b].setFeedback(fReverbPostDelayFeedback[b]); }
    void pushShiftAmount(int b);

    // Runs `f` on the band's selected reverb model, if the index names one.
    template <class F> void withModel(int b, F&& f);

    void processSlice(AUAudioFrameCount n, AUAudioFrameCount offset) noexcept;
    void preprocess(int b, float* inL, float* inR, float* outL, float* outR, int n);
    void subprocess(int b, float* inL, float* inR, float* wetL, float* wetR, int n);
    void subshiftpre(int b, float* inL, float* inR, float* wetL, float* wetR, int n);
    void postprocess(int b, float* L, float* R, int n);
    void subshiftpost(int b, float* inL, float* inR, float* outL, float* outR, int n);
    void processmix(int b, float* inL, float* inR, float* wetL, float* wetR, int n);
    // Shifts tempL/tempR by the band's shift mode; false when the mode shifts nothing.
    void shiftTemp(int b, int n, int mode);

    float* wetLeft(int b);
    float* wetRight(int b);

    // One bit per address whose objects still wait for its stored value.
    std::atomic<std::uint64_t> pendingPushes[2] = {};
    RelaxedAtomic<bool> renderOwned = false;
};
