#include "kernel/DSPKernel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "dsp/Denormal.h"

namespace {
AUEventSampleTime sampleTimeOf(const AudioTimeStamp* timestamp) {
    // Truncation toward zero; a missing or non-representable time counts as 0.
    if (timestamp == nullptr) return 0;
    const double t = timestamp->mSampleTime;
    if (!(std::fabs(t) < 9.0e18)) return 0;
    return static_cast<AUEventSampleTime>(t);
}

// Frames from `now` to the event, at most `limit`; none for an event due or
// late. Stamps near either end of the 64-bit range make the signed difference
// overflow, the unsigned one never does once the event lies ahead.
AUAudioFrameCount framesUntil(AUEventSampleTime eventTime, AUEventSampleTime now, AUAudioFrameCount limit) {
    if (eventTime <= now) return 0;
    const std::uint64_t ahead = static_cast<std::uint64_t>(eventTime) - static_cast<std::uint64_t>(now);
    return static_cast<AUAudioFrameCount>(std::min<std::uint64_t>(ahead, limit));
}
} // namespace

void DSPKernel::processWithEvents(const AudioTimeStamp* timestamp, AUAudioFrameCount frameCount,
                                  const AURenderEvent* events, const AUMIDIOutputEventBlock& midiOutBlock) noexcept {
    // Every render, offline ones included, comes this way.
    const DenormalGuard flushingTinyValues;
    midiOut = &midiOutBlock;

    AUEventSampleTime now = sampleTimeOf(timestamp);
    AUAudioFrameCount framesRemaining = frameCount;
    const AURenderEvent* event = events;

    while (framesRemaining > 0) {
        if (event == nullptr) {
            process(framesRemaining, frameCount - framesRemaining);
            break;
        }
        // An event stamped past this buffer ends the segment at the buffer's
        // end: it is applied after the last frame instead of overrunning.
        const AUAudioFrameCount framesThisSegment =
            framesUntil(event->head.eventSampleTime, now, framesRemaining);
        if (framesThisSegment > 0) {
            process(framesThisSegment, frameCount - framesRemaining);
            framesRemaining -= framesThisSegment;
            now += framesThisSegment;
        }
        performAllSimultaneousEvents(now, event);
    }
    midiOut = nullptr;
}

void DSPKernel::performAllSimultaneousEvents(AUEventSampleTime now, const AURenderEvent*& event) noexcept {
    do {
        handleOneEvent(event);
        event = event->head.next;
    } while (event != nullptr && event->head.eventSampleTime <= now);
}

void DSPKernel::handleOneEvent(const AURenderEvent* event) noexcept {
    switch (event->head.eventType) {
    case AURenderEventType::Parameter:
    case AURenderEventType::ParameterRamp:
        setParameterAutomated(event->parameter.parameterAddress, event->parameter.value,
                              event->head.eventSampleTime);
        break;
    case AURenderEventType::MIDI:
    case AURenderEventType::MIDISysEx:
        handleMIDIEvent(event->MIDI);
        break;
    default:
        break;
    }
}
