#include "tests/fuzz/UnitFuzzing.h"

#include <map>
#include <span>
#include <string>

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/NSError.h"
#include "tests/support/Subnormals.h"
#include "tests/support/TempFolder.h"

namespace fuzz {

const std::filesystem::path& presetsFolder() {
    static const testkit::TempFolder documents("orvo-fuzz");
    static const std::filesystem::path presets = [] {
        testkit::ScopedEnvironment::set("ORVO_DOCUMENTS_DIR", documents.path().string());
        testkit::ScopedEnvironment::set("ORVO_DEFAULTS_DIR", (documents / "Defaults").string());
        std::filesystem::create_directories(documents / "Presets");
        return documents / "Presets";
    }();
    return presets;
}

std::optional<PropertyList::Dictionary> dictionaryFrom(const std::uint8_t* data, std::size_t size) {
    PropertyListFormat format = PropertyListFormat::xml;
    try {
        PropertyList value = PropertyListSerialization::propertyList(std::span(data, size), format);
        if (auto* dictionary = value.dictionary()) return std::move(*dictionary);
    } catch (const NSError&) {
    }
    return std::nullopt;
}

const validation::Stereo& noiseFor(float amplitude) {
    static std::map<float, validation::Stereo> made;
    auto found = made.find(amplitude);
    if (found == made.end())
        found = made.emplace(amplitude, validation::noise(2 * kMaximumFrames, 5, amplitude)).first;
    return found->second;
}

void renderFiniteBlock(validation::Host& host, AUAudioFrameCount frames, const AURenderEvent* events) {
    static validation::Stereo out(2 * kMaximumFrames);
    const validation::Stereo& in = noiseFor(0.5f);
    const AUAudioUnitStatus status = host.render(in.L.data(), in.R.data(), out.L.data(), out.R.data(), frames, events);
    check(status == noErr, "a block within the maximum was refused");
    check(testkit::allFinite(out.L.data(), frames) && testkit::allFinite(out.R.data(), frames),
          "the unit rendered a sample that is not finite");
}

FreshUnit::FreshUnit(validation::Host& host) : host_(host), initial_(host.unit->fullState()) {}

void FreshUnit::restore() {
    host_.unit->setFullState(initial_);
    host_.unit->setCurrentPreset(std::nullopt);
    host_.unit->reset();
}

void drainMainQueue() { DispatchQueue::main().drain(); }

} // namespace fuzz
