#pragma once

#include "platform/audio/AudioTypes.h"

// Turns one render call into sample-accurate segments: audio is processed up
// to the next event's time, the events due then are dispatched, and so on.
class DSPKernel {
public:
    virtual ~DSPKernel() = default;

    // Render `frameCount` frames starting `bufferOffset` frames into the current buffers.
    virtual void process(AUAudioFrameCount frameCount, AUAudioFrameCount bufferOffset) noexcept {
        (void)frameCount;
        (void)bufferOffset;
    }
    virtual void setParameterAutomated(AUParameterAddress address, AUValue value,
                                       AUEventSampleTime sampleTime) noexcept {
        (void)address;
        (void)value;
        (void)sampleTime;
    }
    virtual void handleMIDIEvent(const AUMIDIEvent& midiEvent) noexcept { (void)midiEvent; }

    // The render entry: the whole call runs with flush-to-zero and
    // denormals-are-zero set (DenormalGuard), the caller's mode back on return.
    void processWithEvents(const AudioTimeStamp* timestamp, AUAudioFrameCount frameCount,
                           const AURenderEvent* events, const AUMIDIOutputEventBlock& midiOutBlock) noexcept;

protected:
    void performAllSimultaneousEvents(AUEventSampleTime now, const AURenderEvent*& event) noexcept;
    void handleOneEvent(const AURenderEvent* event) noexcept;

    // The host's MIDI output (may be empty), borrowed while processWithEvents
    // runs and null between calls: a copy kept here would make the render
    // thread the last owner of a block the host has replaced.
    const AUMIDIOutputEventBlock* midiOut = nullptr;
};
