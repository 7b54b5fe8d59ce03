#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <string>

#include "tests/validation/ValidationHost.h"

using namespace validation;

namespace {

constexpr double kRate = 44100.0;
constexpr AUAudioFrameCount kBlock = 1000;
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Values a careless or hostile host sends: inside the declared range, just
// outside it, far outside it, and not numbers at all.
class ValueFuzzer {
public:
    ValueFuzzer(const Host& host, std::uint32_t seed) : random_(seed) {
        for (const auto& parameter : host.unit->parameterTree()->allParameters())
            ranges_[parameter->address()] = {parameter->minValue(), parameter->maxValue()};
    }

    AUValue valueFor(AUParameterAddress address) {
        const auto found = ranges_.find(address);
        const float lo = found != ranges_.end() ? found->second.first : 0.0f;
        const float hi = found != ranges_.end() ? found->second.second : 1.0f;
        const float span = hi - lo;
        switch (std::uniform_int_distribution<int>(0, 9)(random_)) {
        case 0:
        case 1:
        case 2:
            return std::uniform_real_distribution<float>(lo, hi)(random_);
        case 3:
            return std::round(std::uniform_real_distribution<float>(lo, hi)(random_));
        case 4:
            return std::uniform_real_distribution<float>(lo - 10 * span, hi + 10 * span)(random_);
        case 5:
            return pick({lo, hi, lo - 1.0f, hi + 1.0f, -0.0f, std::nextafter(hi, 2 * hi + 1)});
        case 6:
            return pick(
                {1e30f, -1e30f, std::numeric_limits<float>::max(), std::numeric_limits<float>::lowest()});
        case 7:
            return pick({kNaN, -kNaN, kInf, -kInf});
        case 8:
            return pick(
                {std::numeric_limits<float>::denorm_min(), -1e-40f, std::numeric_limits<float>::min()});
        default:
            return std::uniform_real_distribution<float>(-1e6f, 1e6f)(random_);
        }
    }

    std::mt19937& random() { return random_; }

private:
    float pick(std::initializer_list<float> values) {
        const auto i = std::uniform_int_distribution<std::size_t>(0, values.size() - 1)(random_);
        return *(values.begin() + static_cast<std::ptrdiff_t>(i));
    }

    std::mt19937 random_;
    std::map<AUParameterAddress, std::pair<float, float>> ranges_;
};

// Scaled after drawing: noise drawn at such an amplitude would overflow the draw.
Stereo scaled(Stereo signal, float gain) {
    for (auto* channel : {&signal.L, &signal.R})
        for (float& sample : *channel) sample *= gain;
    return signal;
}

// After any fuzzing the unit must still make sound from sound.
void expectSoundsAgain(Host& host, const std::string& what) {
    Stereo signal = noise(framesFor(0.1, kRate), 77, 0.5f);
    ASSERT_EQ(host.process(signal, 512), noErr) << what;
    EXPECT_TRUE(clean(signal)) << what;
}

} // namespace

TEST(ParameterFuzzing, AnyValueThroughTheTreeLeavesTheOutputFinite) {
    Host host(kRate, 4096);
    ValueFuzzer fuzzer(host, 1);
    const auto addresses = host.addresses();
    const int rounds = static_cast<int>(300 * soakFactor());
    for (int round = 0; round < rounds; ++round) {
        for (const AUParameterAddress address : addresses)
            host.setThroughTree(address, fuzzer.valueFor(address));
        Stereo signal = noise(kBlock, static_cast<std::uint32_t>(round), 0.5f);
        ASSERT_EQ(host.process(signal, kBlock), noErr);
        ASSERT_TRUE(clean(signal)) << "round " << round;
    }
    EXPECT_EQ(host.renderAllocations(), 0u);
}

TEST(ParameterFuzzing, AnyValueAtAnyAddressThroughTheEditorLeavesTheOutputFinite) {
    Host host(kRate, 4096);
    ValueFuzzer fuzzer(host, 2);
    std::uniform_int_distribution<std::int32_t> address(-3, 130);
    const int rounds = static_cast<int>(300 * soakFactor());
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < 150; ++i) {
            const std::int32_t a = address(fuzzer.random());
            host.unit->setParameter(a, fuzzer.valueFor(static_cast<AUParameterAddress>(a)));
        }
        Stereo signal = noise(kBlock, static_cast<std::uint32_t>(round), 0.5f);
        ASSERT_EQ(host.process(signal, kBlock), noErr);
        ASSERT_TRUE(clean(signal)) << "round " << round;
    }
    EXPECT_EQ(host.renderAllocations(), 0u);
}

// Sample-accurate automation at every 1, 10, 100 and 1000 frames, with ramps,
// unknown addresses and events stamped before or after the block.
TEST(ParameterFuzzing, AnyValueAsRenderEventsLeavesTheOutputFinite) {
    Host host(kRate, 4096);
    ValueFuzzer fuzzer(host, 3);
    auto addresses = host.addresses();
    for (const AUParameterAddress unknown : {9ull, 90ull, 127ull, 4096ull, 1ull << 40})
        addresses.push_back(unknown);
    std::uniform_int_distribution<std::size_t> pickAddress(0, addresses.size() - 1);
    std::uniform_int_distribution<int> pickType(0, 12);
    EventList events(kBlock + 2);
    int forwarded = 0;
    host.unit->setMidiOutputEventBlock([&](AUEventSampleTime, std::uint8_t, NSInteger, const std::uint8_t*) {
        ++forwarded;
        return noErr;
    });
    host.configure(kRate, 4096); // hands the MIDI output over
    const int rounds = static_cast<int>(40 * soakFactor());
    for (const AUAudioFrameCount stride : {1u, 10u, 100u, 1000u}) {
        for (int round = 0; round < rounds; ++round) {
            events.clear();
            const AUEventSampleTime start = host.sampleTime();
            for (AUAudioFrameCount at = 0; at < kBlock; at += stride) {
                if (at % 7 == 3) { // MIDI, system messages and types nobody knows, among the parameters
                    const auto type = static_cast<AURenderEventType>(pickType(fuzzer.random()));
                    events.midi(start + at, type, static_cast<std::uint16_t>(fuzzer.random()()),
                                static_cast<std::uint32_t>(fuzzer.random()()));
                    continue;
                }
                const auto type =
                    at % 3 == 0 ? AURenderEventType::ParameterRamp : AURenderEventType::Parameter;
                const AUParameterAddress address = addresses[pickAddress(fuzzer.random())];
                events.parameter(start + at, address, fuzzer.valueFor(address), type);
            }
            events.parameter(start - 5000, 26, fuzzer.valueFor(26));        // late
            events.parameter(start + 10 * kBlock, 30, fuzzer.valueFor(30)); // early
            Stereo signal = noise(kBlock, static_cast<std::uint32_t>(round), 0.5f);
            ASSERT_EQ(host.render(signal.L.data(), signal.R.data(), signal.L.data(), signal.R.data(), kBlock,
                                  events.head()),
                      noErr);
            ASSERT_TRUE(clean(signal)) << "stride " << stride << ", round " << round;
        }
    }
    EXPECT_EQ(host.renderAllocations(), 0u);
    EXPECT_EQ(forwarded, 0); // no MIDI through
    expectSoundsAgain(host, "after events");
}

TEST(InputFuzzing, BadInputLeavesNoLastingDamage) {
    Host host(kRate, 4096);
    const Stereo probe = noise(framesFor(0.5, kRate), 123, 0.5f);
    const Stereo fresh = host.rendered(probe, 512);

    const std::size_t frames = framesFor(0.1, kRate);
    const std::pair<const char*, Stereo> inputs[] = {
        {"silence", Stereo(frames, 0.0f)},     {"full-scale noise", noise(frames, 9, 1.0f)},
        {"DC", Stereo(frames, 1.0f)},          {"NaN", Stereo(frames, kNaN)},
        {"+inf", Stereo(frames, kInf)},        {"-inf", Stereo(frames, -kInf)},
        {"subnormal", Stereo(frames, 1e-40f)}, {"huge", Stereo(frames, 1e30f)},
        {"noise near the float maximum", scaled(noise(frames, 11, 1.0f), 3e38f)},
    };
    for (const auto& [name, input] : inputs) {
        for (const int mode : {0, 2}) {
            host.setThroughTree(kCurrentMode, static_cast<AUValue>(mode));
            Stereo bad = input;
            bad.L[frames / 2] = kNaN; // a single bad sample in the middle too
            ASSERT_EQ(host.process(bad, 512), noErr) << name;
            EXPECT_EQ(subnormals(bad), 0u) << name;
            // Once the bad input stops, the output is sound again at once.
            Stereo after = noise(frames, 10, 0.5f);
            ASSERT_EQ(host.process(after, 512), noErr) << name;
            EXPECT_TRUE(allFinite(after)) << name << " in mode " << mode;
            EXPECT_GT(peak(after), 0.0f) << name << " in mode " << mode;
            EXPECT_EQ(subnormals(after), 0u) << name;
        }
    }
    EXPECT_EQ(host.renderAllocations(), 0u);

    // After a reset it sounds as it did when new.
    host.setThroughTree(kCurrentMode, 2.0f);
    host.unit->reset();
    const Stereo again = host.rendered(probe, 512);
    EXPECT_TRUE(again.L == fresh.L);
    EXPECT_TRUE(again.R == fresh.R);
}

TEST(InputFuzzing, SubnormalInputNeverComesOutSubnormal) {
    Host host(kRate, 4096);
    for (const int mode : {0, 1}) {
        host.setThroughTree(kCurrentMode, static_cast<AUValue>(mode));
        host.unit->reset();
        Stereo tiny = noise(framesFor(0.2, kRate), 5, 1e-38f);
        ASSERT_EQ(host.process(tiny, 64), noErr);
        EXPECT_EQ(subnormals(tiny), 0u) << mode;
        EXPECT_TRUE(allFinite(tiny)) << mode;
    }
}
