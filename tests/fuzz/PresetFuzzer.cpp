// Preset loading: the bytes as an ".aupreset" file, selected on a unit as it
// was made. A preset that cannot be applied changes nothing; one that can is
// followed by a rendered block that must come out finite. The unit is put back
// as made (parameters and everything it holds) only after a preset was applied:
// making or clearing a unit for every input would cost a hundredfold and reach
// no other code.
#include <fstream>
#include <memory>

#include "tests/fuzz/UnitFuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static auto host = std::make_unique<validation::Host>(fuzz::kRate, fuzz::kMaximumFrames);
    static fuzz::FreshUnit fresh(*host);
    static bool changed = false;
    std::ofstream(fuzz::presetsFolder() / "Fuzz.aupreset", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (changed) fresh.restore();
    const auto before = host->unit->fullState();
    const auto presets = host->unit->factoryPresets();
    fuzz::check(presets.size() == 1, "the preset file is not listed");
    host->unit->setCurrentPreset(presets[0]);
    changed = host->unit->currentPreset() == presets[0];
    if (changed)
        fuzz::renderFiniteBlock(*host);
    else
        fuzz::check(host->unit->fullState() == before, "a preset that could not be applied changed the unit");
    fuzz::drainMainQueue();
    return 0;
}
