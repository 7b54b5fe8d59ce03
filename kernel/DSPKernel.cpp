#include "kernel/DSPKernel.h"

#include <algorithm>
#include <cmath>

namespace {
AUEventSampleTime sampleTimeOf(const AudioTimeStamp* timestamp) {
    // Truncation toward zero; a missing or non-representable time counts as 0.
    if (timestamp == nullptr) return 0;
    const double t = timestamp->mSampleTime;
    if (!(std::fabs(t) < 9.0e18)) return 0;
    return static_cast<AUEventSampleTime>(t);
}
} // namespace

void DSPKernel::processWithEvents(const AudioTimeStamp* timestamp, AUAudioFrameCount frameCount,
                                  const AURenderEvent* events,
                                  const AUMIDIOutputEventBlock& midiOutBlock) noexcept {
    midiOut = midiOutBlock;

    AUEventSampleTime now = sampleTimeOf(timestamp);
    AUAudioFrameCount framesRemaining = frameCount;
    const AURenderEvent* event = events;

    while (framesRemaining > 0) {
        if (event == nullptr) {
            process(framesRemaining, frameCount - framesRemaining);
            return;
        }
        // An event stamped past this buffer ends the segment at the buffer's
        // end: it is applied after the last frame instead of overrunning.
        const AUEventSampleTime ahead = event->head.eventSampleTime - now;
        const auto framesThisSegment =
            static_cast<AUAudioFrameCount>(std::clamp<AUEventSampleTime>(ahead, 0, framesRemaining));
        if (framesThisSegment > 0) {
            process(framesThisSegment, frameCount - framesRemaining);
            framesRemaining -= framesThisSegment;
            now += framesThisSegment;
        }
        performAllSimultaneousEvents(now, event);
    }
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
