#pragma once

#include <cstdint>

using OSType = std::uint32_t;

// Four characters packed most significant first: fourCharCode("aumf").
constexpr OSType fourCharCode(const char (&code)[5]) {
    return (static_cast<OSType>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<OSType>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<OSType>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<OSType>(static_cast<unsigned char>(code[3]));
}

constexpr OSType kAudioUnitType_MusicEffect = fourCharCode("aumf");
constexpr OSType kAudioUnitType_Effect = fourCharCode("aufx");

// Names one audio component: what it is, which one, and who made it.
struct AudioComponentDescription {
    OSType componentType = 0;
    OSType componentSubType = 0;
    OSType componentManufacturer = 0;
    std::uint32_t componentFlags = 0;
    std::uint32_t componentFlagsMask = 0;

    friend bool operator==(const AudioComponentDescription&, const AudioComponentDescription&) = default;
};

using AudioComponentInstantiationOptions = std::uint32_t;
