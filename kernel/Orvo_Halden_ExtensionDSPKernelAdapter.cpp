#include "kernel/Orvo_Halden_ExtensionDSPKernelAdapter.h"

#include <algorithm>
#include <string>

#include "platform/foundation/NSError.h"

namespace {
const AUMIDIOutputEventBlock kNoMidiOutput;
} // namespace

Orvo_Halden_ExtensionDSPKernelAdapter::Orvo_Halden_ExtensionDSPKernelAdapter() {
    const auto format = AVAudioFormat::standardFormat(48000.0, 2);
    _kernel.init(static_cast<int>(format->channelCount()), format->sampleRate());
    _inputBus.init(format, 2);
    _outputBus = AUAudioUnitBus::make(format);
    _outputBus->setMaximumChannelCount(2);
}

void Orvo_Halden_ExtensionDSPKernelAdapter::allocateRenderResources() {
    const AUAudioFrameCount frames = maximumFramesToRender();
    if (frames > kMaximumFramesLimit)
        throw NSError(kAudioUnitErr_TooManyFramesToProcess,
                      "The maximum of " + std::to_string(frames) + " frames to render is above the limit of " +
                          std::to_string(kMaximumFramesLimit) + ".");
    _inputBus.allocateRenderResources(frames);
    const auto& format = _outputBus->format();
    _kernel.init(static_cast<int>(format->channelCount()), format->sampleRate());
    _kernel.reset();
    // From here on only the render thread touches the processing objects.
    _kernel.setRenderOwned(true);
}

void Orvo_Halden_ExtensionDSPKernelAdapter::deallocateRenderResources() {
    _kernel.setRenderOwned(false);
    _inputBus.deallocateRenderResources();
}

AUAudioUnitStatus Orvo_Halden_ExtensionDSPKernelAdapter::render(
    AudioUnitRenderActionFlags* actionFlags, const AudioTimeStamp* timestamp, AUAudioFrameCount frameCount,
    NSInteger, AudioBufferList* outputData, const AURenderEvent* realtimeEventListHead,
    const AURenderPullInputBlock& pullInputBlock) noexcept {
    return renderWith(actionFlags, timestamp, frameCount, outputData, realtimeEventListHead, pullInputBlock,
                      false);
}

AUInternalRenderBlock Orvo_Halden_ExtensionDSPKernelAdapter::internalRenderBlock() {
    return [this](AudioUnitRenderActionFlags* actionFlags, const AudioTimeStamp* timestamp,
                  AUAudioFrameCount frameCount, NSInteger, AudioBufferList* outputData,
                  const AURenderEvent* events, const AURenderPullInputBlock& pullInputBlock) {
        return renderWith(actionFlags, timestamp, frameCount, outputData, events, pullInputBlock, true);
    };
}

AUAudioUnitStatus Orvo_Halden_ExtensionDSPKernelAdapter::renderWith(
    AudioUnitRenderActionFlags*, const AudioTimeStamp* timestamp, AUAudioFrameCount frameCount,
    AudioBufferList* outputData, const AURenderEvent* events, const AURenderPullInputBlock& pullInputBlock,
    bool pullRequired) {
    // Nothing to render into before allocation (or after a failed one).
    AudioBufferList* in = _inputBus.mutableAudioBufferList;
    if (in == nullptr || outputData == nullptr) return kAudioUnitErr_Uninitialized;
    if (frameCount > maximumFramesToRender() || frameCount > _inputBus.maxFrames)
        return kAudioUnitErr_TooManyFramesToProcess;

    if (pullInputBlock || pullRequired) {
        AudioUnitRenderActionFlags pullFlags = 0;
        const AUAudioUnitStatus status =
            _inputBus.pullInput(&pullFlags, timestamp, frameCount, 0, pullInputBlock);
        if (status != noErr) return status;
    }

    // Output buffers without memory render in place in the input's buffers.
    if (outputData->mNumberBuffers > 0 && outputData->mBuffers[0].mData == nullptr) {
        const std::uint32_t shared = std::min(outputData->mNumberBuffers, in->mNumberBuffers);
        for (std::uint32_t i = 0; i < shared; ++i) {
            outputData->mBuffers[i].mData = in->mBuffers[i].mData;
            outputData->mBuffers[i].mDataByteSize = in->mBuffers[i].mDataByteSize;
        }
    }

    _kernel.setBuffers(in, outputData);
    // The host's MIDI output as set last, borrowed for this call only.
    const AUMIDIOutputEventBlock* midiOut = _outputEventBlock.borrow();
    _kernel.processWithEvents(timestamp, frameCount, events, midiOut ? *midiOut : kNoMidiOutput);
    _outputEventBlock.release();
    publishSpectrum();
    return noErr;
}

// ---- spectrum -------------------------------------------------------------

void Orvo_Halden_ExtensionDSPKernelAdapter::publishSpectrum() noexcept {
    Scala& scala = _kernel.analyzer.scala;
    if (scala.framesSummed == _spectrumSummed) return;
    _spectrumSummed = scala.framesSummed;
    SpectrumFrame& frame = _spectrum.writeSlot();
    std::copy(std::begin(scala.chromatic), std::end(scala.chromatic), frame.chromatic);
    frame.chromaticCount = scala.chromaticCount.load(std::memory_order_relaxed);
    frame.bins = std::clamp(_kernel.analyzer.getSize() / 4, 0, SpectrumFrame::kBins);
    std::copy_n(_kernel.analyzer.getMagnitudesNormalized(), frame.bins, frame.magnitudes);
    std::copy_n(_kernel.analyzer.getFrequencies(), frame.bins, frame.frequencies);
    _spectrum.publish();
}

void Orvo_Halden_ExtensionDSPKernelAdapter::takeSpectrum() noexcept {
    if (!_spectrum.takeNewest()) return;
    const SpectrumFrame& frame = _spectrum.readSlot();
    std::copy(std::begin(frame.chromatic), std::end(frame.chromatic), _chromatic);
    _chromaticCount = frame.chromaticCount;
}

float* Orvo_Halden_ExtensionDSPKernelAdapter::getMagnitutes() {
    takeSpectrum();
    // The render thread starts its sums afresh once a read has used them.
    if (Scala::average(_chromatic, _chromaticCount, 0, 137, true))
        _kernel.analyzer.scala.clearChromatic.store(true, std::memory_order_relaxed);
    return _chromatic;
}

float* Orvo_Halden_ExtensionDSPKernelAdapter::getMagnitutesScaled(int count, float scaling) {
    takeSpectrum();
    const SpectrumFrame& frame = _spectrum.readSlot();
    count = std::clamp(count, 1, static_cast<int>(Orvo_Halden_Extension_DSPKernel::kMaxSlice));
    _kernel.scaleSpectrum(frame.magnitudes, frame.frequencies, frame.bins, count, scaling, _scaledMagnitudes,
                          _scaledFrequencies);
    return _scaledMagnitudes;
}
