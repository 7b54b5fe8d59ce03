#include "Orvo_Halden_Extension/MIDI.h"

#include <cstring>

namespace {

template <typename T> void put(std::uint8_t* buffer, std::size_t offset, const T& value) {
    std::memcpy(buffer + offset, &value, sizeof value);
}

} // namespace

// The fields go into the zeroed buffer byte by byte at their offsets: the data
// bytes run on past the one-element `data` array, and only the buffer holds
// them all.
MyMetaEvent::MyMetaEvent(std::uint8_t type, const std::vector<std::uint8_t>& data)
    : size_(static_cast<std::ptrdiff_t>(sizeof(MIDIMetaEvent) + data.size())),
      mem(new std::uint8_t[static_cast<std::size_t>(size_)]()) {
    put(mem.get(), offsetof(MIDIMetaEvent, metaEventType), type);
    put(mem.get(), offsetof(MIDIMetaEvent, dataLength), static_cast<std::uint32_t>(data.size()));
    if (!data.empty()) std::memcpy(mem.get() + offsetof(MIDIMetaEvent, data), data.data(), data.size());
}

void test_MyMetaEvent() {
    MyMetaEvent event(META_SPECIFIC, {0, 0, 0});
    event.withMIDIMetaEventPtr([](const MIDIMetaEvent*) {});
}
