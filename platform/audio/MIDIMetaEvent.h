#pragma once

#include <cstddef>
#include <cstdint>

// One meta event as the sequencing calls take it: a fixed 12-byte head whose
// `data` field is only the first of `dataLength` bytes. Longer events live in
// a larger buffer and carry their bytes on past the structure's end, so write
// and read them through the buffer at `offsetof(MIDIMetaEvent, data)`, never
// by indexing `data` beyond its one element.
struct MIDIMetaEvent {
    std::uint8_t metaEventType;
    std::uint8_t unused1;
    std::uint8_t unused2;
    std::uint8_t unused3;
    std::uint32_t dataLength;
    std::uint8_t data[1];
};

static_assert(sizeof(MIDIMetaEvent) == 12, "the stride of one meta event");
static_assert(offsetof(MIDIMetaEvent, dataLength) == 4);
static_assert(offsetof(MIDIMetaEvent, data) == 8);
