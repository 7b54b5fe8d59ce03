#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <iterator>
#include <vector>

#include "Orvo_Halden_Extension/MIDI.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes image(const MyMetaEvent& event) { return Bytes(event.bytes().begin(), event.bytes().end()); }

TEST(MyMetaEvent, TempoEventIsTheExactByteImage) {
    static_assert(std::endian::native == std::endian::little, "the image below is little-endian");
    const MyMetaEvent event(META_SETTEMPO, {0x07, 0xA1, 0x20});

    EXPECT_EQ(event.size(), 15);
    EXPECT_EQ(image(event), (Bytes{0x51, 0, 0, 0, 3, 0, 0, 0, 0x07, 0xA1, 0x20, 0, 0, 0, 0}));

    int calls = 0;
    event.withMIDIMetaEventPtr([&](const MIDIMetaEvent* head) {
        ++calls;
        EXPECT_EQ(static_cast<const void*>(head), static_cast<const void*>(event.bytes().data()));
        EXPECT_EQ(head->metaEventType, 0x51);
        EXPECT_EQ(head->dataLength, 3u);
        EXPECT_EQ(head->data[0], 0x07);
    });
    EXPECT_EQ(calls, 1);
}

TEST(MyMetaEvent, EmptyAndLongEventsKeepTheirLengths) {
    const MyMetaEvent empty(META_EOT, {});
    EXPECT_EQ(empty.size(), 12);
    EXPECT_EQ(image(empty), (Bytes{0x2F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    Bytes text(300);
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<std::uint8_t>(i * 7 + 1);
    const MyMetaEvent long_(META_TEXT, text);
    ASSERT_EQ(long_.size(), 312);
    const Bytes bytes = image(long_);
    EXPECT_EQ(Bytes(bytes.begin() + 4, bytes.begin() + 8), (Bytes{0x2C, 0x01, 0, 0})) << "300 bytes";
    EXPECT_EQ(Bytes(bytes.begin() + 8, bytes.begin() + 308), text);
    EXPECT_EQ(Bytes(bytes.begin() + 308, bytes.end()), Bytes(4, 0));

    // The sample event builds and hands itself over (an overrun would trip the sanitizers).
    test_MyMetaEvent();
}

TEST(MIDIVocabulary, StatusBytesAndSharedValues) {
    EXPECT_EQ(STATUS_META, STATUS_RESERVED4);
    EXPECT_NE(STATUS_META, STATUS_RESET);
    for (std::uint8_t voice : {STATUS_NOTEOFF, STATUS_NOTEON, STATUS_PPRESSURE, STATUS_CONTROLLER,
                               STATUS_PROGRAM, STATUS_CPRESSURE, STATUS_PITCHBEND})
        EXPECT_EQ(voice & 0x0F, 0) << "channel 0";
}

// clang-format off
struct Row {
    const char* name;
    int value;
    int expected;
};
#define ROW(name, expected) Row{#name, name, expected}

TEST(MIDIVocabulary, EveryConstantHasItsValue) {
    const Row rows[] = {
        ROW(STATUS_NOTEOFF, 0x80), ROW(STATUS_NOTEON, 0x90), ROW(STATUS_PPRESSURE, 0xA0),
        ROW(STATUS_CONTROLLER, 0xB0), ROW(STATUS_PROGRAM, 0xC0), ROW(STATUS_CPRESSURE, 0xD0),
        ROW(STATUS_PITCHBEND, 0xE0), ROW(STATUS_SYSEX, 0xF0), ROW(STATUS_TIMECODE, 0xF1),
        ROW(STATUS_SONGPOSITION, 0xF2), ROW(STATUS_SONGSELECT, 0xF3), ROW(STATUS_RESERVED1, 0xF4),
        ROW(STATUS_RESERVED2, 0xF5), ROW(STATUS_TUNEREQUEST, 0xF6), ROW(STATUS_EOX, 0xF7),
        ROW(STATUS_TIMINGCLOCK, 0xF8), ROW(STATUS_RESERVED3, 0xF9), ROW(STATUS_START, 0xFA),
        ROW(STATUS_CONTINUE, 0xFB), ROW(STATUS_STOP, 0xFC), ROW(STATUS_RESERVED4, 0xFD),
        ROW(STATUS_ACTIVESENSING, 0xFE), ROW(STATUS_RESET, 0xFF), ROW(STATUS_META, 0xFD),
        ROW(CONTROLLER_BANKSELECT_MSB, 0), ROW(CONTROLLER_MODWHEEL, 1), ROW(CONTROLLER_DATA_MSB, 6),
        ROW(CONTROLLER_VOLUME, 7), ROW(CONTROLLER_PAN, 10), ROW(CONTROLLER_EXPRESSION, 11),
        ROW(CONTROLLER_BANKSELECT_LSB, 32), ROW(CONTROLLER_SUSTAIN, 64), ROW(CONTROLLER_PORTA, 65),
        ROW(CONTROLLER_HOLD2, 69), ROW(CONTROLLER_RESONANCE, 71), ROW(CONTROLLER_RELEASE, 72),
        ROW(CONTROLLER_ATTACK, 73), ROW(CONTROLLER_CUTOFF, 74), ROW(CONTROLLER_DECAY, 75),
        ROW(CONTROLLER_SUSTAIN2, 76), ROW(CONTROLLER_SOUNDS_OFF, 120), ROW(CONTROLLER_RESET_CONTROLLERS, 121),
        ROW(CONTROLLER_NOTES_OFF, 123), ROW(CONTROLLER_003, 3), ROW(CONTROLLER_008, 8),
        ROW(CONTROLLER_009, 9), ROW(CONTROLLER_016, 16), ROW(CONTROLLER_017, 17), ROW(CONTROLLER_018, 18),
        ROW(CONTROLLER_019, 19), ROW(CONTROLLER_020, 20), ROW(CONTROLLER_021, 21), ROW(CONTROLLER_022, 22),
        ROW(CONTROLLER_023, 23), ROW(CONTROLLER_024, 24), ROW(CONTROLLER_025, 25), ROW(CONTROLLER_026, 26),
        ROW(CONTROLLER_027, 27), ROW(CONTROLLER_028, 28), ROW(CONTROLLER_029, 29), ROW(CONTROLLER_030, 30),
        ROW(CONTROLLER_031, 31), ROW(CONTROLLER_102, 102), ROW(CONTROLLER_103, 103), ROW(CONTROLLER_104, 104),
        ROW(CONTROLLER_105, 105), ROW(CONTROLLER_106, 106), ROW(CONTROLLER_107, 107),
        ROW(CONTROLLER_108, 108), ROW(CONTROLLER_109, 109), ROW(CONTROLLER_110, 110),
        ROW(CONTROLLER_111, 111), ROW(CONTROLLER_112, 112),
        ROW(META_SEQUENCENUMBER, 0x00), ROW(META_TEXT, 0x01), ROW(META_COPYRIGHT, 0x02),
        ROW(META_TRACKNAME, 0x03), ROW(META_INSTRUMENTNAME, 0x04), ROW(META_LYRICS, 0x05),
        ROW(META_MARKER, 0x06), ROW(META_CUEPOINT, 0x07), ROW(META_PROGRAMNAME, 0x08),
        ROW(META_DEVICENAME, 0x09), ROW(META_CHANNELPREFIX, 0x20), ROW(META_MIDIPORT, 0x21),
        ROW(META_EOT, 0x2F), ROW(META_SETTEMPO, 0x51), ROW(META_SMTPOFFSET, 0x54),
        ROW(META_TIMESIGNATURE, 0x58), ROW(META_KEYSIGNATURE, 0x59), ROW(META_SPECIFIC, 0x7F),
        ROW(META_SYSEX, 0xF0), ROW(META_UNKNOWN, 0xFF), ROW(META_EXTENDEDNOTE, 0xFF),
        ROW(META_AUPARAMETER, 0xFF), ROW(META_AUPRESET, 0xFF),
    };
    // clang-format on
    EXPECT_EQ(std::size(rows), 96u);
    for (const Row& row : rows) EXPECT_EQ(row.value, row.expected) << row.name;
}

#undef ROW

} // namespace
