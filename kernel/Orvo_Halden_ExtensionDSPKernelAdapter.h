#pragma once

#include <memory>

#include "kernel/BufferedAudioBus.h"
#include "kernel/Orvo_Halden_Extension_DSPKernel.h"
#include "kernel/RenderHandOff.h"
#include "kernel/TripleBuffer.h"
#include "platform/audio/AUParameterTree.h"

// The audio unit's one way into the kernel: buses, host blocks, the render
// entry, parameters, meters and spectrum. Holds the ~100 MB kernel by value,
// so it lives on the heap (use make()).
class Orvo_Halden_ExtensionDSPKernelAdapter {
public:
    // The largest maximum frame count allocation accepts: sixteen times the
    // 4096 frames hosts render at most in one call, 256 KB a channel, and far
    // from where a buffer's 32-bit byte size would overflow. A larger maximum
    // is refused (NSError kAudioUnitErr_TooManyFramesToProcess) before anything
    // is allocated.
    static constexpr AUAudioFrameCount kMaximumFramesLimit = 1u << 16;

    static std::unique_ptr<Orvo_Halden_ExtensionDSPKernelAdapter> make() {
        return std::make_unique<Orvo_Halden_ExtensionDSPKernelAdapter>();
    }

    Orvo_Halden_ExtensionDSPKernelAdapter();
    Orvo_Halden_ExtensionDSPKernelAdapter(const Orvo_Halden_ExtensionDSPKernelAdapter&) = delete;
    Orvo_Halden_ExtensionDSPKernelAdapter& operator=(const Orvo_Halden_ExtensionDSPKernelAdapter&) = delete;

    const std::shared_ptr<AUAudioUnitBus>& inputBus() const { return _inputBus.bus; }
    const std::shared_ptr<AUAudioUnitBus>& outputBus() const { return _outputBus; }

    // From the host's or the editor's thread (the tree's observer goes this way).
    void setParameterEx(AUParameterAddress address, AUValue value) noexcept {
        _kernel.setParameterFromHost(address, value);
    }
    AUValue getParameterEx(AUParameterAddress address) const noexcept {
        return _kernel.getParameter(address);
    }
    // The same by a tree's parameter: its address and the value.
    void setParameter(const AUParameter& parameter, AUValue value) noexcept {
        setParameterEx(parameter.address(), value);
    }
    AUValue valueForParameter(const AUParameter& parameter) const noexcept {
        return getParameterEx(parameter.address());
    }

    AUAudioFrameCount maximumFramesToRender() const { return _kernel.getMaximumFramesToRender(); }
    void setMaximumFramesToRender(AUAudioFrameCount frames) { _kernel.setMaximumFramesToRender(frames); }
    bool shouldBypassEffect() const { return _kernel.getBypassed(); }
    void setShouldBypassEffect(bool bypass) noexcept { _kernel.setBypassed(bypass); }
    void setBypass(bool bypass) noexcept { _kernel.bBypass = bypass; }

    // Throws NSError for a maximum above kMaximumFramesLimit.
    void allocateRenderResources();
    void deallocateRenderResources();
    void reset() noexcept { _kernel.reset(); }

    // Any thread but the render thread; the next render call sends to it.
    void setAUMIDIOutputEventBlock(AUMIDIOutputEventBlock block) { _outputEventBlock.set(std::move(block)); }
    void setAUHostMusicalContextBlock(AUHostMusicalContextBlock block) { _musicalContext = std::move(block); }
    void setAUHostTransportStateBlock(AUHostTransportStateBlock block) {
        _transportStateBlock = std::move(block);
    }
    void setAUScheduleMIDIEventBlock(AUScheduleMIDIEventBlock block) {
        _scheduleMIDIEventBlock = std::move(block);
    }

    // The render entry, once per render cycle on the host's render thread.
    [[nodiscard]] AUAudioUnitStatus render(AudioUnitRenderActionFlags* actionFlags,
                                           const AudioTimeStamp* timestamp, AUAudioFrameCount frameCount,
                                           NSInteger outputBusNumber, AudioBufferList* outputData,
                                           const AURenderEvent* realtimeEventListHead,
                                           const AURenderPullInputBlock& pullInputBlock) noexcept;

    // A render block of the adapter's own, which always pulls its input.
    AUInternalRenderBlock internalRenderBlock();

    // Meters and spectrum for the editor's thread. The spectrum getters work
    // on the newest frame the render thread handed over, in arrays of the
    // reader's own that stay put while the adapter lives; one reader thread.
    float getPeakInput() const { return _kernel.getPeakInput(); }
    float getPeakOutput() const { return _kernel.getPeakOutput(); }
    float getSamplerate() const { return _kernel.getSamplerate(); }
    // The chromatic values 0..136, averaged over the frames summed and scaled
    // into 0..1 when louder; the analyser then starts its sums afresh. Each
    // call averages the array in place again.
    float* getMagnitutes();
    float getChromaticFrequency(int note) { return _kernel.getFrequency(note); }
    // The bins up to a quarter of the rate, summed into count (1..4096)
    // places from linear (scaling 0) to logarithmic (1).
    float* getMagnitutesScaled(int count, float scaling);

    Orvo_Halden_Extension_DSPKernel& kernel() { return _kernel; }

private:
    [[nodiscard]] AUAudioUnitStatus renderWith(AudioUnitRenderActionFlags* actionFlags, const AudioTimeStamp* timestamp,
                                 AUAudioFrameCount frameCount, AudioBufferList* outputData,
                                 const AURenderEvent* events, const AURenderPullInputBlock& pullInputBlock,
                                 bool pullRequired);

    // The render thread's side of the spectrum: hands a frame over when the
    // analyser has summed one since the last.
    void publishSpectrum() noexcept;
    // Takes the newest frame, if one came, into the reader's arrays.
    void takeSpectrum() noexcept;

    // What the editor needs of one analysed frame.
    struct SpectrumFrame {
        // A quarter of the analyser's frame: its bins up to a quarter of the rate.
        static constexpr int kBins = Orvo_Halden_Extension_DSPKernel::kAnalysisSize / 4;
        float chromatic[Scala::kTones];
        int chromaticCount;
        float magnitudes[kBins];
        float frequencies[kBins];
        int bins;
    };

    Orvo_Halden_Extension_DSPKernel _kernel;
    TripleBuffer<SpectrumFrame> _spectrum;
    unsigned _spectrumSummed = 0; // the render thread's
    // The reader's.
    float _chromatic[Scala::kTones] = {};
    int _chromaticCount = 0;
    float _scaledMagnitudes[Orvo_Halden_Extension_DSPKernel::kMaxSlice] = {};
    float _scaledFrequencies[Orvo_Halden_Extension_DSPKernel::kMaxSlice] = {};
    BufferedInputBus _inputBus;
    AUHostMusicalContextBlock _musicalContext;
    RenderHandOff<AUMIDIOutputEventBlock> _outputEventBlock;
    AUHostTransportStateBlock _transportStateBlock;
    AUScheduleMIDIEventBlock _scheduleMIDIEventBlock;
    std::shared_ptr<AUAudioUnitBus> _outputBus;
};
