// Rendering: block lengths, render events and input levels read from the
// bytes. Every block the unit accepts comes out finite; a block longer than the
// maximum is refused.
#include <algorithm>
#include <limits>
#include <memory>

#include "tests/fuzz/UnitFuzzing.h"
#include "tests/support/RenderEvents.h"
#include "tests/support/Subnormals.h"

namespace {

AUParameterAddress addressFrom(fuzz::Input& in) {
    // Mostly the table's addresses and their neighbours, now and then anything.
    return in.flag() ? in.inRange<AUParameterAddress>(0, 130) : in.value<AUParameterAddress>();
}

void addEvent(fuzz::Input& in, testkit::EventList& events, AUEventSampleTime now) {
    // Mostly near the block, now and then anywhere in the 64-bit range.
    constexpr AUEventSampleTime kNear = 4096;
    const AUEventSampleTime time =
        in.flag() ? now + in.inRange<AUEventSampleTime>(-kNear, kNear) : in.value<AUEventSampleTime>();
    switch (in.inRange(0, 5)) {
    case 0:
    case 1:
        events.parameter(time, addressFrom(in), in.value<AUValue>());
        break;
    case 2:
    case 3:
        events.add(testkit::parameterEvent(time, addressFrom(in), in.value<AUValue>(),
                                           AURenderEventType::ParameterRamp, in.value<AUAudioFrameCount>()));
        break;
    default: {
        const auto type = in.flag() ? AURenderEventType::MIDI
                                    : static_cast<AURenderEventType>(in.value<std::uint8_t>());
        events.midi(time, type, in.value<std::uint16_t>(), in.value<std::uint32_t>());
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static auto host = std::make_unique<validation::Host>(fuzz::kRate, fuzz::kMaximumFrames);
    static fuzz::FreshUnit fresh(*host);
    static validation::Stereo out(2 * fuzz::kMaximumFrames);
    static testkit::EventList events(16);
    fresh.restore();
    fuzz::Input in(data, size);
    for (int block = 0; block < 8 && !in.empty(); ++block) {
        // Now and then just over the maximum, which must be refused.
        const auto frames = in.inRange<AUAudioFrameCount>(0, fuzz::kMaximumFrames + 64);
        // Up to noise near the float maximum: one such block must not break the unit.
        constexpr float kLevels[] = {0.0f, 0.5f, 1.0f, 100.0f, 1e30f, 3e38f};
        const validation::Stereo& input = fuzz::noiseFor(kLevels[in.inRange(0, 5)]);
        const bool pulled = in.flag();
        events.clear();
        for (int n = in.inRange(0, 8); n > 0; --n) addEvent(in, events, host->sampleTime());
        const AUAudioUnitStatus status =
            host->render(pulled ? input.L.data() : nullptr, pulled ? input.R.data() : nullptr, out.L.data(),
                         out.R.data(), frames, events.head());
        if (frames > fuzz::kMaximumFrames) fuzz::check(status != noErr, "a block over the maximum was rendered");
        if (status != noErr) continue;
        fuzz::check(testkit::allFinite(out.L.data(), frames) && testkit::allFinite(out.R.data(), frames),
                    "the unit rendered a sample that is not finite");
    }
    fuzz::drainMainQueue();
    return 0;
}
