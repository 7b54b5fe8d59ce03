// The full state: set from the bytes, get, set again, get again: the second
// set changes nothing. A block rendered afterwards comes out finite.
#include <memory>

#include "tests/fuzz/UnitFuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static auto host = std::make_unique<validation::Host>(fuzz::kRate, fuzz::kMaximumFrames);
    static fuzz::FreshUnit fresh(*host);
    const auto state = fuzz::dictionaryFrom(data, size);
    if (!state) return -1;
    fresh.restore();
    host->unit->setFullState(state);
    const auto first = host->unit->fullState();
    host->unit->setFullState(first);
    const auto second = host->unit->fullState();
    fuzz::check(first == second, "setting the state it answered changed the unit's state");
    fuzz::renderFiniteBlock(*host);
    fuzz::drainMainQueue();
    return 0;
}
