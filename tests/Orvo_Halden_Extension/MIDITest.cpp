#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <map>
#include <string>
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

TEST(MIDIVocabulary, PinnedValues) {
    EXPECT_EQ(STATUS_META, STATUS_RESERVED4);
    EXPECT_EQ(STATUS_META, 0xFD);
    EXPECT_EQ(STATUS_RESET, 0xFF);
    for (std::uint8_t shared : {META_UNKNOWN, META_EXTENDEDNOTE, META_AUPARAMETER, META_AUPRESET})
        EXPECT_EQ(shared, 0xFF);
    for (std::uint8_t voice : {STATUS_NOTEOFF, STATUS_NOTEON, STATUS_PPRESSURE, STATUS_CONTROLLER,
                               STATUS_PROGRAM, STATUS_CPRESSURE, STATUS_PITCHBEND})
        EXPECT_EQ(voice & 0x0F, 0) << "channel 0";
}

#define ENTRY(name)                                                                                          \
    { #name, name }

TEST(MIDIVocabulary, StatusBytes) {
    const std::map<std::string, int> table = {
        ENTRY(STATUS_NOTEOFF),       ENTRY(STATUS_NOTEON),      ENTRY(STATUS_PPRESSURE),
        ENTRY(STATUS_CONTROLLER),    ENTRY(STATUS_PROGRAM),     ENTRY(STATUS_CPRESSURE),
        ENTRY(STATUS_PITCHBEND),     ENTRY(STATUS_SYSEX),       ENTRY(STATUS_TIMECODE),
        ENTRY(STATUS_SONGPOSITION),  ENTRY(STATUS_SONGSELECT),  ENTRY(STATUS_RESERVED1),
        ENTRY(STATUS_RESERVED2),     ENTRY(STATUS_TUNEREQUEST), ENTRY(STATUS_EOX),
        ENTRY(STATUS_TIMINGCLOCK),   ENTRY(STATUS_RESERVED3),   ENTRY(STATUS_START),
        ENTRY(STATUS_CONTINUE),      ENTRY(STATUS_STOP),        ENTRY(STATUS_RESERVED4),
        ENTRY(STATUS_ACTIVESENSING), ENTRY(STATUS_RESET),       ENTRY(STATUS_META)};
    const std::map<std::string, int> expected = {
        {"STATUS_NOTEOFF", 0x80},       {"STATUS_NOTEON", 0x90},      {"STATUS_PPRESSURE", 0xA0},
        {"STATUS_CONTROLLER", 0xB0},    {"STATUS_PROGRAM", 0xC0},     {"STATUS_CPRESSURE", 0xD0},
        {"STATUS_PITCHBEND", 0xE0},     {"STATUS_SYSEX", 0xF0},       {"STATUS_TIMECODE", 0xF1},
        {"STATUS_SONGPOSITION", 0xF2},  {"STATUS_SONGSELECT", 0xF3},  {"STATUS_RESERVED1", 0xF4},
        {"STATUS_RESERVED2", 0xF5},     {"STATUS_TUNEREQUEST", 0xF6}, {"STATUS_EOX", 0xF7},
        {"STATUS_TIMINGCLOCK", 0xF8},   {"STATUS_RESERVED3", 0xF9},   {"STATUS_START", 0xFA},
        {"STATUS_CONTINUE", 0xFB},      {"STATUS_STOP", 0xFC},        {"STATUS_RESERVED4", 0xFD},
        {"STATUS_ACTIVESENSING", 0xFE}, {"STATUS_RESET", 0xFF},       {"STATUS_META", 0xFD}};
    EXPECT_EQ(table, expected);
}

TEST(MIDIVocabulary, ControllerNumbers) {
    const std::map<std::string, int> named = {ENTRY(CONTROLLER_BANKSELECT_MSB),
                                              ENTRY(CONTROLLER_MODWHEEL),
                                              ENTRY(CONTROLLER_DATA_MSB),
                                              ENTRY(CONTROLLER_VOLUME),
                                              ENTRY(CONTROLLER_PAN),
                                              ENTRY(CONTROLLER_EXPRESSION),
                                              ENTRY(CONTROLLER_BANKSELECT_LSB),
                                              ENTRY(CONTROLLER_SUSTAIN),
                                              ENTRY(CONTROLLER_PORTA),
                                              ENTRY(CONTROLLER_HOLD2),
                                              ENTRY(CONTROLLER_RESONANCE),
                                              ENTRY(CONTROLLER_RELEASE),
                                              ENTRY(CONTROLLER_ATTACK),
                                              ENTRY(CONTROLLER_CUTOFF),
                                              ENTRY(CONTROLLER_DECAY),
                                              ENTRY(CONTROLLER_SUSTAIN2),
                                              ENTRY(CONTROLLER_RESET_CONTROLLERS),
                                              ENTRY(CONTROLLER_NOTES_OFF),
                                              ENTRY(CONTROLLER_SOUNDS_OFF)};
    const std::map<std::string, int> expectedNamed = {{"CONTROLLER_BANKSELECT_MSB", 0},
                                                      {"CONTROLLER_MODWHEEL", 1},
                                                      {"CONTROLLER_DATA_MSB", 6},
                                                      {"CONTROLLER_VOLUME", 7},
                                                      {"CONTROLLER_PAN", 10},
                                                      {"CONTROLLER_EXPRESSION", 11},
                                                      {"CONTROLLER_BANKSELECT_LSB", 32},
                                                      {"CONTROLLER_SUSTAIN", 64},
                                                      {"CONTROLLER_PORTA", 65},
                                                      {"CONTROLLER_HOLD2", 69},
                                                      {"CONTROLLER_RESONANCE", 71},
                                                      {"CONTROLLER_RELEASE", 72},
                                                      {"CONTROLLER_ATTACK", 73},
                                                      {"CONTROLLER_CUTOFF", 74},
                                                      {"CONTROLLER_DECAY", 75},
                                                      {"CONTROLLER_SUSTAIN2", 76},
                                                      {"CONTROLLER_RESET_CONTROLLERS", 121},
                                                      {"CONTROLLER_NOTES_OFF", 123},
                                                      {"CONTROLLER_SOUNDS_OFF", 120}};
    EXPECT_EQ(named, expectedNamed);

    // The numbered ones carry their number in their name.
    const std::map<std::string, int> numbered = {
        ENTRY(CONTROLLER_003), ENTRY(CONTROLLER_008), ENTRY(CONTROLLER_009), ENTRY(CONTROLLER_016),
        ENTRY(CONTROLLER_017), ENTRY(CONTROLLER_018), ENTRY(CONTROLLER_019), ENTRY(CONTROLLER_020),
        ENTRY(CONTROLLER_021), ENTRY(CONTROLLER_022), ENTRY(CONTROLLER_023), ENTRY(CONTROLLER_024),
        ENTRY(CONTROLLER_025), ENTRY(CONTROLLER_026), ENTRY(CONTROLLER_027), ENTRY(CONTROLLER_028),
        ENTRY(CONTROLLER_029), ENTRY(CONTROLLER_030), ENTRY(CONTROLLER_031), ENTRY(CONTROLLER_102),
        ENTRY(CONTROLLER_103), ENTRY(CONTROLLER_104), ENTRY(CONTROLLER_105), ENTRY(CONTROLLER_106),
        ENTRY(CONTROLLER_107), ENTRY(CONTROLLER_108), ENTRY(CONTROLLER_109), ENTRY(CONTROLLER_110),
        ENTRY(CONTROLLER_111), ENTRY(CONTROLLER_112)};
    std::vector<int> expectedNumbers = {3, 8, 9};
    for (int n = 16; n <= 31; ++n) expectedNumbers.push_back(n);
    for (int n = 102; n <= 112; ++n) expectedNumbers.push_back(n);
    std::vector<int> numbers;
    for (const auto& [name, value] : numbered) {
        EXPECT_EQ(std::stoi(name.substr(name.size() - 3)), value) << name;
        numbers.push_back(value);
    }
    EXPECT_EQ(numbers, expectedNumbers);
}

TEST(MIDIVocabulary, MetaEventTypes) {
    const std::map<std::string, int> table = {ENTRY(META_SEQUENCENUMBER),
                                              ENTRY(META_TEXT),
                                              ENTRY(META_COPYRIGHT),
                                              ENTRY(META_TRACKNAME),
                                              ENTRY(META_INSTRUMENTNAME),
                                              ENTRY(META_LYRICS),
                                              ENTRY(META_MARKER),
                                              ENTRY(META_CUEPOINT),
                                              ENTRY(META_PROGRAMNAME),
                                              ENTRY(META_DEVICENAME),
                                              ENTRY(META_CHANNELPREFIX),
                                              ENTRY(META_MIDIPORT),
                                              ENTRY(META_EOT),
                                              ENTRY(META_SETTEMPO),
                                              ENTRY(META_SMTPOFFSET),
                                              ENTRY(META_TIMESIGNATURE),
                                              ENTRY(META_KEYSIGNATURE),
                                              ENTRY(META_SPECIFIC),
                                              ENTRY(META_SYSEX),
                                              ENTRY(META_UNKNOWN),
                                              ENTRY(META_EXTENDEDNOTE),
                                              ENTRY(META_AUPARAMETER),
                                              ENTRY(META_AUPRESET)};
    const std::map<std::string, int> expected = {{"META_SEQUENCENUMBER", 0x00},
                                                 {"META_TEXT", 0x01},
                                                 {"META_COPYRIGHT", 0x02},
                                                 {"META_TRACKNAME", 0x03},
                                                 {"META_INSTRUMENTNAME", 0x04},
                                                 {"META_LYRICS", 0x05},
                                                 {"META_MARKER", 0x06},
                                                 {"META_CUEPOINT", 0x07},
                                                 {"META_PROGRAMNAME", 0x08},
                                                 {"META_DEVICENAME", 0x09},
                                                 {"META_CHANNELPREFIX", 0x20},
                                                 {"META_MIDIPORT", 0x21},
                                                 {"META_EOT", 0x2F},
                                                 {"META_SETTEMPO", 0x51},
                                                 {"META_SMTPOFFSET", 0x54},
                                                 {"META_TIMESIGNATURE", 0x58},
                                                 {"META_KEYSIGNATURE", 0x59},
                                                 {"META_SPECIFIC", 0x7F},
                                                 {"META_SYSEX", 0xF0},
                                                 {"META_UNKNOWN", 0xFF},
                                                 {"META_EXTENDEDNOTE", 0xFF},
                                                 {"META_AUPARAMETER", 0xFF},
                                                 {"META_AUPRESET", 0xFF}};
    EXPECT_EQ(table, expected);
}

#undef ENTRY

} // namespace
