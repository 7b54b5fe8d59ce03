#pragma once

#include <string>

#include "platform/audio/AudioTypes.h"

// A preset as a host lists it: numbers from 0 are the unit's own (factory)
// presets, negative numbers the user's.
struct AUAudioUnitPreset {
    NSInteger number = 0;
    std::string name;

    friend bool operator==(const AUAudioUnitPreset&, const AUAudioUnitPreset&) = default;
};
