#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/PropertyList.h"
#include "tests/fuzz/FuzzInput.h"
#include "tests/validation/ValidationHost.h"

// What the targets that drive a whole unit share.
namespace fuzz {

inline constexpr double kRate = 48000.0;
inline constexpr AUAudioFrameCount kMaximumFrames = 512;

// The "Presets" folder of a private documents folder that lives as long as the process.
const std::filesystem::path& presetsFolder();

// The property list the bytes hold, if they hold one whose root is a dictionary.
std::optional<PropertyList::Dictionary> dictionaryFrom(const std::uint8_t* data, std::size_t size);

// Ordinary noise at `amplitude`, enough for the longest block.
const validation::Stereo& noiseFor(float amplitude);

// Renders one block of ordinary noise and insists it comes out finite.
void renderFiniteBlock(validation::Host& host, AUAudioFrameCount frames = 512,
                       const AURenderEvent* events = nullptr);

// Puts back the state the unit had when made, forgets its current preset and
// clears what it holds, so every input starts from the same unit.
class FreshUnit {
public:
    explicit FreshUnit(validation::Host& host);
    void restore();

private:
    validation::Host& host_;
    std::optional<PropertyList::Dictionary> initial_;
};

// Runs what the unit queued for the main thread (its log lines).
void drainMainQueue();

} // namespace fuzz
