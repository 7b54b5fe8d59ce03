#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/audio/AudioTypes.h"

namespace testkit {

// One parameter event; a ramp carries `rampFrames` (the kernel applies it at once).
inline AURenderEvent parameterEvent(AUEventSampleTime time, AUParameterAddress address, AUValue value,
                                    AURenderEventType type = AURenderEventType::Parameter,
                                    AUAudioFrameCount rampFrames = 32) {
    AURenderEvent event;
    event.parameter = AUParameterEvent{};
    event.parameter.eventSampleTime = time;
    event.parameter.eventType = type;
    event.parameter.parameterAddress = address;
    event.parameter.value = value;
    event.parameter.rampDurationSampleFrames = type == AURenderEventType::ParameterRamp ? rampFrames : 0;
    return event;
}

// One MIDI-shaped event of any type: `bytes` holds data[0..2] in its low three
// bytes and the cable in its top byte.
inline AURenderEvent midiEvent(AUEventSampleTime time, AURenderEventType type, std::uint16_t length,
                               std::uint32_t bytes) {
    AURenderEvent event;
    event.MIDI = AUMIDIEvent{};
    event.MIDI.eventSampleTime = time;
    event.MIDI.eventType = type;
    event.MIDI.length = length;
    event.MIDI.cable = static_cast<std::uint8_t>(bytes >> 24);
    for (int i = 0; i < 3; ++i) event.MIDI.data[i] = static_cast<std::uint8_t>(bytes >> (8 * i));
    return event;
}

// Events for one render call, linked in the order added, in storage reserved
// beforehand so that building a list during a render test allocates nothing.
class EventList {
public:
    explicit EventList(std::size_t capacity = 64) { events_.reserve(capacity); }

    void clear() { events_.clear(); }
    EventList& add(const AURenderEvent& event) {
        events_.push_back(event);
        return *this;
    }
    EventList& parameter(AUEventSampleTime time, AUParameterAddress address, AUValue value,
                         AURenderEventType type = AURenderEventType::Parameter) {
        return add(parameterEvent(time, address, value, type));
    }
    EventList& midi(AUEventSampleTime time, AURenderEventType type, std::uint16_t length,
                    std::uint32_t bytes) {
        return add(midiEvent(time, type, length, bytes));
    }

    // The head of the linked list, or null when empty.
    const AURenderEvent* head() {
        for (std::size_t i = 0; i + 1 < events_.size(); ++i) events_[i].head.next = &events_[i + 1];
        if (!events_.empty()) events_.back().head.next = nullptr;
        return events_.empty() ? nullptr : &events_[0];
    }
    std::size_t size() const { return events_.size(); }

private:
    std::vector<AURenderEvent> events_;
};

} // namespace testkit
