#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "platform/foundation/NSError.h"
#include "tests/Orvo_Halden_Extension/PresetFiles.h"
#include "tests/validation/ValidationHost.h"

using namespace validation;

namespace {

using Dictionary = PropertyList::Dictionary;
using Bytes = std::vector<std::uint8_t>;

constexpr double kRate = 48000.0;

std::vector<float> values(Host& host) {
    std::vector<float> all;
    for (const AUParameterAddress address : host.addresses()) all.push_back(host.valueInTree(address));
    return all;
}

Dictionary state(Host& host) {
    testkit::StdoutCapture quiet;
    return *host.unit->fullState();
}

void restore(Host& host, std::optional<Dictionary> dictionary) {
    testkit::StdoutCapture quiet;
    host.unit->setFullState(std::move(dictionary));
    DispatchQueue::main().drain();
}

Bytes serialised(const Dictionary& dictionary) {
    return PropertyListSerialization::data(PropertyList(dictionary), PropertyListFormat::xml);
}

// The dictionary the bytes hold, or none when they hold no dictionary at all.
std::optional<Dictionary> parsed(const Bytes& bytes) {
    try {
        PropertyListFormat format = PropertyListFormat::xml;
        const PropertyList list = PropertyListSerialization::propertyList(std::span(bytes), format);
        if (const Dictionary* dictionary = list.dictionary()) return *dictionary;
    } catch (const NSError&) {
    }
    return std::nullopt;
}

Stereo probeOutput(Host& host) {
    host.unit->reset();
    return host.rendered(noise(framesFor(0.3, kRate), 17, 0.5f), 512);
}

// Any value of any type in place of some entries, at any depth.
PropertyList mutated(const PropertyList& value, std::mt19937& random) {
    std::uniform_int_distribution<int> roll(0, 19);
    if (roll(random) == 0) {
        switch (roll(random) % 6) {
        case 0:
            return PropertyList(std::string("x"));
        case 1:
            return PropertyList(std::int64_t{-1} << 40);
        case 2:
            return PropertyList(std::nan(""));
        case 3:
            return PropertyList(true);
        case 4:
            return PropertyList(PropertyList::Array{});
        default:
            return PropertyList(Dictionary{});
        }
    }
    if (const Dictionary* dictionary = value.dictionary()) {
        Dictionary copy;
        for (const auto& [key, entry] : *dictionary)
            if (roll(random) != 1) copy.emplace(key, mutated(entry, random));
        return PropertyList(copy);
    }
    if (const PropertyList::Array* array = value.array()) {
        PropertyList::Array copy;
        for (const auto& entry : *array)
            if (roll(random) != 1) copy.push_back(mutated(entry, random));
        return PropertyList(copy);
    }
    return value;
}

class UnitState : public testkit::DocumentsFixture {};

} // namespace

TEST_F(UnitState, ARestoredStateGivesEveryValueAndTheSameSound) {
    for (const std::uint32_t seed : {1u, 2u, 3u}) {
        Dictionary saved;
        std::vector<float> expected;
        Stereo heard;
        {
            Host original(kRate, 512);
            original.randomise(seed, Host::Route::editor);
            saved = state(original);
            expected = values(original);
            heard = probeOutput(original);
        }
        Host fresh(kRate, 512);
        // Through the bytes a host would store.
        restore(fresh, parsed(serialised(saved)));
        EXPECT_EQ(values(fresh), expected) << seed;
        const Stereo again = probeOutput(fresh);
        EXPECT_TRUE(again.L == heard.L) << seed;
        EXPECT_TRUE(again.R == heard.R) << seed;
        EXPECT_EQ(state(fresh), saved) << "re-saved state, seed " << seed;
        EXPECT_EQ(serialised(state(fresh)), serialised(saved)) << seed;
    }
}

TEST_F(UnitState, RandomBytesAndTruncatedStatesChangeNothing) {
    Host host(kRate, 512);
    host.randomise(9, Host::Route::editor);
    const Dictionary saved = state(host);
    const std::vector<float> expected = values(host);
    const Bytes bytes = serialised(saved);
    std::mt19937 random(4);

    std::vector<Bytes> broken;
    for (int i = 0; i < static_cast<int>(40 * soakFactor()); ++i) {
        Bytes noise(std::uniform_int_distribution<std::size_t>(0, 2000)(random));
        for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());
        if (i % 4 == 0 && noise.size() >= 8) std::copy_n("bplist00", 8, noise.begin());
        if (i % 4 == 1) noise.insert(noise.begin(), bytes.begin(), bytes.begin() + 60);
        broken.push_back(noise);
    }
    for (std::size_t cut = 0; cut < bytes.size(); cut += 1 + bytes.size() / 97)
        broken.emplace_back(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));

    for (const Bytes& blob : broken) {
        const auto dictionary = parsed(blob);
        if (dictionary && *dictionary == saved) continue; // a cut that kept it all
        restore(host, dictionary);
        ASSERT_EQ(values(host), expected) << blob.size() << " bytes";
    }
    // A whole state of another component is refused too.
    Dictionary foreign = saved;
    foreign["subtype"] = PropertyList(std::int64_t{0x41424344});
    restore(host, foreign);
    EXPECT_EQ(values(host), expected);
    EXPECT_EQ(state(host), saved);
}

// Entries of the wrong type anywhere in an otherwise good state: whatever
// is used of it, the unit stays sound.
TEST_F(UnitState, MangledStatesLeaveTheUnitSound) {
    Host host(kRate, 512);
    host.randomise(10, Host::Route::editor);
    const Dictionary saved = state(host);
    std::mt19937 random(6);
    for (int i = 0; i < static_cast<int>(60 * soakFactor()); ++i) {
        Dictionary broken;
        for (const auto& [key, entry] : saved) broken.emplace(key, mutated(entry, random));
        restore(host, broken);
        for (const float value : values(host)) ASSERT_TRUE(std::isfinite(value)) << i;
        Stereo signal = noise(512, static_cast<std::uint32_t>(i), 0.5f);
        ASSERT_EQ(host.process(signal, 512), noErr);
        ASSERT_TRUE(allFinite(signal)) << i;
    }
}

TEST_F(UnitState, RandomBytesAndTruncatedPresetFilesAreRefused) {
    Host host(kRate, 512);
    host.randomise(12, Host::Route::editor);
    const Dictionary saved = state(host);
    const std::vector<float> expected = values(host);
    const Bytes bytes = serialised(saved);
    std::mt19937 random(8);
    const std::string good(bytes.begin(), bytes.end());
    const std::vector<std::string> files = {
        "",
        std::string("bplist00") + std::string(40, '\xff'),
        good.substr(0, good.size() / 2),
        good.substr(0, good.size() - 12),
        good.substr(0, 100),
        std::string(3000, '\0'),
    };
    int index = 0;
    for (const std::string& content : files) {
        const std::string name = "Broken " + std::to_string(index++);
        writePreset(name + ".aupreset", content);
        testkit::StdoutCapture quiet;
        const auto listed = host.unit->factoryPresets();
        for (const AUAudioUnitPreset& preset : listed) host.unit->setCurrentPreset(preset);
        host.unit->setCurrentPreset(AUAudioUnitPreset{-1, name});
        EXPECT_THROW(host.unit->presetState(AUAudioUnitPreset{-1, name}), NSError) << name;
        DispatchQueue::main().drain();
        quiet.finish();
        ASSERT_EQ(values(host), expected) << name;
        EXPECT_FALSE(host.unit->currentPreset().has_value()) << name;
        std::filesystem::remove(presets() / (name + ".aupreset"));
    }
    // And a good one next to them still loads.
    writePreset("Good.aupreset", good);
    Host other(kRate, 512);
    testkit::StdoutCapture quiet;
    other.unit->setCurrentPreset(AUAudioUnitPreset{-1, "Good"});
    DispatchQueue::main().drain();
    quiet.finish();
    EXPECT_EQ(values(other), expected);
}

// Numbers in files never follow the user's locale: a comma would not read back.
TEST_F(UnitState, ADecimalCommaLocaleSavesAndLoadsTheSameNumbers) {
    Host host(kRate, 512);
    host.randomise(14, Host::Route::editor);
    host.unit->setParameter(kReverbSize0, 0.123456f);
    const std::vector<float> expected = values(host);
    const Dictionary inC = state(host);
    const Bytes bytesInC = serialised(inC);

    const std::string previous = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.utf8"), nullptr) << "no decimal-comma locale here";
    std::locale::global(std::locale("de_DE.utf8"));
    const Dictionary inGerman = state(host);
    const Bytes bytesInGerman = serialised(inGerman);
    const auto readInGerman = parsed(bytesInC);
    OrvoPreset writer;
    writer.makeFrom(inGerman);
    const bool saved = writer.save(URL::fileURLWithPath((presets() / "Comma.aupreset").string()));
    Host german(kRate, 512);
    restore(german, readInGerman);
    const std::vector<float> restoredInGerman = values(german);
    testkit::StdoutCapture quiet;
    german.unit->setCurrentPreset(AUAudioUnitPreset{-1, "Comma"});
    quiet.finish();
    const std::vector<float> presetInGerman = values(german);
    std::locale::global(std::locale::classic());
    std::setlocale(LC_ALL, previous.c_str());

    EXPECT_EQ(bytesInGerman, bytesInC);
    EXPECT_EQ(inGerman, inC);
    EXPECT_EQ(restoredInGerman, expected);
    ASSERT_TRUE(saved);
    EXPECT_EQ(presetInGerman, expected);
    // What was written under the comma locale reads the same without it.
    EXPECT_EQ(parsed(Bytes(bytesInGerman)), inC);
}

// A host saves and restores the state on its own thread while audio runs.
TEST(Threads, StateSavedAndRestoredWhileRendering) {
    Host host(kRate, 512);
    host.randomise(15, Host::Route::editor);
    const Dictionary first = state(host);
    host.randomise(16, Host::Route::editor);
    const Dictionary second = state(host);
    std::atomic<bool> running{true};
    std::atomic<int> blocks{0};
    std::atomic<bool> clean{true};
    std::thread renderer([&] {
        Stereo signal(128);
        while (running || blocks < 50) {
            signal = noise(128, static_cast<std::uint32_t>(blocks), 0.5f);
            if (host.process(signal, 128) != noErr || !allFinite(signal)) clean = false;
            ++blocks;
        }
    });
    for (int i = 0; i < static_cast<int>(40 * soakFactor()) || blocks < 50; ++i) {
        restore(host, i % 2 == 0 ? first : second);
        const Dictionary now = state(host);
        EXPECT_EQ(now, i % 2 == 0 ? first : second) << i;
    }
    running = false;
    renderer.join();
    EXPECT_TRUE(clean);
    EXPECT_EQ(host.renderAllocations(), 0u);
}
