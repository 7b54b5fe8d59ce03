#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"
#include "platform/foundation/NSError.h"
#include "tests/Orvo_Halden_Extension/HallPreset.h"
#include "tests/Orvo_Halden_Extension/PresetFiles.h"
#include "tests/Orvo_Halden_Extension/TestHost.h"
#include "tests/support/FrequencyMeasures.h"

namespace {

using Unit = Orvo_Halden_Extension_AudioUnit;
using Dictionary = PropertyList::Dictionary;
using Lines = std::vector<std::string>;
using testkit::logOf;

std::shared_ptr<Unit> makeUnit() {
    testkit::StdoutCapture quiet;
    return Unit::make(Unit::kComponentDescription);
}

std::vector<float> allValues(Unit& unit) {
    std::vector<float> values;
    for (const auto& parameter : unit.parameterTree()->allParameters())
        values.push_back(unit.getParameter(static_cast<std::int32_t>(parameter->address())));
    return values;
}

// Every writable parameter somewhere in its range (whole steps for indexed
// ones), then the split points high and the large fourth reverb.
void changeEverything(Unit& unit, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> fraction(0.0f, 1.0f);
    for (const auto& parameter : unit.parameterTree()->allParameters()) {
        if (!(parameter->flags() & kAudioUnitParameterFlag_IsWritable)) continue;
        float value =
            parameter->minValue() + fraction(random) * (parameter->maxValue() - parameter->minValue());
        if (parameter->unit() != kAudioUnitParameterUnit_Generic) value = std::round(value);
        unit.setParameter(static_cast<std::int32_t>(parameter->address()), value);
    }
    unit.setParameter(kSplit2, 0.9f);
    unit.setParameter(kSplit1, 0.8f);
    unit.setParameter(kReverbModel0, 3.0f);
    unit.setParameter(kReverbSize0, 0.9f);
}

Dictionary quietState(Unit& unit) {
    testkit::StdoutCapture quiet;
    return *unit.fullState();
}

void renderAll(testkit::TestHost& host) {
    while (host.position() < host.inputL.size()) ASSERT_EQ(host.renderNext(), noErr);
}

bool contains(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string missingFile(const std::string& name) {
    return "AUExtension::ERROR: The preset file '" + name + ".aupreset' does not exist.";
}

} // namespace

class UnitState : public testkit::DocumentsFixture {};

TEST_F(UnitState, FullStateRestoresEveryValueAndTheSameSound) {
    testkit::TestHost original(makeUnit());
    {
        testkit::StdoutCapture quiet;
        original.allocate();
        changeEverything(*original.unit, 11);
    }
    ASSERT_EQ(original.unit->getParameter(kSplit1), 0.8f);
    ASSERT_EQ(original.unit->getParameter(kSplit2), 0.9f);

    const Dictionary state = quietState(*original.unit);
    EXPECT_EQ(quietState(*original.unit), state);
    EXPECT_EQ(state.at("name"), PropertyList("Preset"));
    EXPECT_EQ(state.at("version"), PropertyList(1));
    EXPECT_EQ(state.at("type"), PropertyList(fourCharCode("aumf")));
    EXPECT_EQ(state.at("subtype"), PropertyList(fourCharCode("ohdn")));
    EXPECT_EQ(state.at("count"), PropertyList(1));
    const Dictionary& group = *state.at("group 0").dictionary();
    EXPECT_EQ(group.at("identifier"), PropertyList("kGlobalParameters"));
    ASSERT_EQ(group.at("count"), PropertyList(111));
    std::int64_t previous = -1;
    for (int i = 0; i < 111; ++i) {
        const std::int64_t address = *group.at("param " + std::to_string(i)).find("address")->integer();
        EXPECT_GT(address, previous);
        previous = address;
    }

    // Saved, read back and saved again, the file does not change.
    const URL first = URL::fileURLWithPath((presets() / "first.aupreset").string());
    const URL second = URL::fileURLWithPath((presets() / "second.aupreset").string());
    OrvoPreset saved, reread;
    saved.makeFrom(state);
    ASSERT_TRUE(saved.save(first));
    ASSERT_TRUE(reread.load(first));
    ASSERT_TRUE(reread.save(second));
    EXPECT_EQ(read(second.path()), read(first.path()));
    EXPECT_EQ(reread.getDictionary(), state);

    testkit::TestHost restored(makeUnit());
    Lines log;
    {
        testkit::StdoutCapture quiet;
        restored.allocate();
        log = logOf([&] { restored.unit->setFullState(state); });
    }
    EXPECT_TRUE(log.empty()) << log.front();
    EXPECT_EQ(allValues(*restored.unit), allValues(*original.unit));
    EXPECT_EQ(quietState(*restored.unit), state);

    {
        testkit::StdoutCapture quiet;
        renderAll(original);
        renderAll(restored);
    }
    EXPECT_EQ(restored.outL, original.outL);
    EXPECT_EQ(restored.outR, original.outR);
    EXPECT_GT(testkit::rms(original.outL.data(), original.outL.size()), 0.0);
}

TEST_F(UnitState, SplitPointsEndAsStoredWhateverTheyWereBefore) {
    auto unit = makeUnit();
    const std::vector<std::pair<float, float>> stored = {
        {0.8f, 0.9f}, {0.1f, 0.2f}, {0.3f, 0.95f}, {0.6f, 0.6f}};
    for (const auto& [before1, before2] : stored) {
        for (const auto& [split1, split2] : stored) {
            testkit::StdoutCapture quiet;
            unit->setParameter(kSplit2, 1.0f);
            unit->setParameter(kSplit1, before1);
            unit->setParameter(kSplit2, before2);
            Dictionary state = *unit->fullState();
            Dictionary& group = *state["group 0"].dictionary();
            (*group["param 3"].dictionary())["value"] = static_cast<double>(split1);
            (*group["param 4"].dictionary())["value"] = static_cast<double>(split2);
            unit->setFullState(state);
            quiet.finish();
            EXPECT_EQ(unit->getParameter(kSplit1), split1) << before1 << " " << before2;
            EXPECT_EQ(unit->getParameter(kSplit2), split2) << before1 << " " << before2;
        }
    }
}

TEST_F(UnitState, AForeignStateIsRefusedBeforeAnythingIsApplied) {
    auto unit = makeUnit();
    Dictionary state = quietState(*unit);
    (*(*state["group 0"].dictionary())["param 1"].dictionary())["value"] = 0.123; // kVolumeOut
    const float volume = unit->getParameter(kVolumeOut);
    const std::string mismatch =
        "AUExtension::fullState() : ERROR: The component description of the patch does not match.";

    Dictionary foreign = state;
    foreign["subtype"] = fourCharCode("xxxx");
    Dictionary untyped = state;
    untyped.erase("type");
    Dictionary hugeCode = state;
    hugeCode["manufacturer"] = (std::int64_t{1} << 32) + fourCharCode("VLMR");
    for (const auto& candidate : {std::optional<Dictionary>(foreign), std::optional<Dictionary>(untyped),
                                  std::optional<Dictionary>(hugeCode), std::optional<Dictionary>()}) {
        const Lines log = logOf([&] { unit->setFullState(candidate); });
        EXPECT_TRUE(contains(log, mismatch));
        EXPECT_EQ(unit->getParameter(kVolumeOut), volume);
    }
    const Lines accepted = logOf([&] { unit->setFullState(state); });
    EXPECT_FALSE(contains(accepted, mismatch));
    EXPECT_FLOAT_EQ(unit->getParameter(kVolumeOut), 0.123f);
}

TEST_F(UnitState, FactoryPresetsAreTheSortedPresetFilesAndSelectingOneAppliesIt) {
    auto unit = makeUnit();
    writePreset("notes.txt", "not a preset");
    writePreset("B.AUPRESET", testkit::kHallXML);
    writePreset("A.aupreset", testkit::kHallXML);
    writePreset("Broken.aupreset", "<plist><dict><key>");
    std::filesystem::create_directory(presets() / "sub");
    std::filesystem::create_directory(presets() / "Folder.aupreset");
    ASSERT_EQ(::mkfifo((presets() / "Pipe.aupreset").c_str(), 0600), 0);
    write(documents / "Escape.aupreset", testkit::kHallXML);

    // Nothing listed yet: every number is out of range.
    Lines log = logOf([&] { unit->setCurrentPreset(AUAudioUnitPreset{0, "A"}); });
    EXPECT_EQ(log, Lines{"AUExtension::ERROR: The preset number 0 is invalid."});

    const std::vector<AUAudioUnitPreset> expected = {{0, "A"}, {1, "B"}, {2, "Broken"}};
    EXPECT_EQ(unit->factoryPresets(), expected);
    EXPECT_EQ(unit->factoryPresets(), expected);

    // B is only there with its extension in capitals.
    log = logOf([&] { unit->setCurrentPreset(AUAudioUnitPreset{1, "B"}); });
    EXPECT_TRUE(log.empty()) << log.front();
    EXPECT_EQ(unit->currentPreset(), (AUAudioUnitPreset{1, "B"}));
    EXPECT_EQ(unit->getParameter(kSplit1), 0.8f);
    EXPECT_EQ(unit->getParameter(kSplit2), 0.9f);
    EXPECT_EQ(unit->getParameter(kReverbModel0), 3.0f);

    const float volume = unit->getParameter(kVolumeOut);
    struct Refused {
        AUAudioUnitPreset preset;
        std::string line;
    };
    const std::vector<Refused> refused = {
        {{3, "A"}, "AUExtension::ERROR: The preset number 3 is invalid."},
        {{0, "Gone"}, missingFile("Gone")},
        {{0, "../Escape"}, "AUExtension::ERROR: The preset name '../Escape' is not a file name."},
        {{0, ".."}, "AUExtension::ERROR: The preset name '..' is not a file name."},
        {{0, std::string("A\0B", 3)}, "AUExtension::ERROR: The preset name 'A\\0B' is not a file name."},
        {{2, "Broken"},
         "OrvoPreset::loadFromFile() : ERROR: Could not read the file '" +
             (presets() / "Broken.aupreset").string() + "': "},
    };
    for (const auto& [preset, line] : refused) {
        log = logOf([&, &preset = preset] { unit->setCurrentPreset(preset); });
        ASSERT_EQ(log.size(), 1u) << preset.name;
        EXPECT_EQ(log[0].rfind(line, 0), 0u) << log[0];
        EXPECT_EQ(unit->currentPreset(), (AUAudioUnitPreset{1, "B"}));
        EXPECT_EQ(unit->getParameter(kVolumeOut), volume);
    }

    unit->setCurrentPreset(std::nullopt);
    EXPECT_EQ(unit->currentPreset(), std::nullopt);
}

TEST_F(UnitState, TheListingCopesWithoutAFolderAndKeepsItsListWhenItCannotRead) {
    auto unit = makeUnit();
    std::filesystem::remove_all(presets());
    EXPECT_TRUE(unit->factoryPresets().empty());

    std::filesystem::create_directory(presets());
    writePreset("Only.aupreset", testkit::kHallXML);
    ASSERT_EQ(unit->factoryPresets().size(), 1u);
    std::filesystem::remove_all(presets());
    write(presets(), "a file where the folder was");
    std::vector<AUAudioUnitPreset> listed;
    const Lines log = logOf([&] { listed = unit->factoryPresets(); });
    EXPECT_EQ(listed, (std::vector<AUAudioUnitPreset>{{0, "Only"}}));
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("Creating factory presets failed: ", 0), 0u) << log[0];

    // Without any documents folder there is nothing to list or load.
    testkit::ScopedEnvironment::set("ORVO_DOCUMENTS_DIR", "");
    testkit::ScopedEnvironment home{"HOME"};
    testkit::ScopedEnvironment::set("HOME", (documents / "nobody").string());
    EXPECT_TRUE(unit->factoryPresets().empty());
}

TEST_F(UnitState, UserPresetsAreRestoredAsAWholeStateOrNotAtAll) {
    auto unit = makeUnit();
    {
        testkit::StdoutCapture quiet;
        unit->setParameter(kSplit2, 0.9f);
        unit->setParameter(kSplit1, 0.8f);
        unit->setParameter(kReverbSize0, 0.9f);
    }
    OrvoPreset mine;
    mine.makeFrom(quietState(*unit));
    ASSERT_TRUE(mine.save(URL::fileURLWithPath((presets() / "Mine.aupreset").string())));
    writePreset("Broken.aupreset", "");
    {
        testkit::StdoutCapture quiet;
        unit->setParameter(kSplit1, 0.1f);
        unit->setParameter(kSplit2, 0.2f);
        unit->setParameter(kReverbSize0, 0.2f);
    }

    // Reading a preset's state changes nothing.
    Dictionary state;
    Lines log = logOf([&] { state = unit->presetState(AUAudioUnitPreset{-1, "Mine"}); });
    EXPECT_TRUE(log.empty()) << log.front();
    EXPECT_EQ(state, mine.getDictionary());
    EXPECT_EQ(unit->getParameter(kReverbSize0), 0.2f);
    (void)logOf([&] {
        EXPECT_THROW(unit->presetState(AUAudioUnitPreset{-1, "Missing"}), NSError);
        EXPECT_THROW(unit->presetState(AUAudioUnitPreset{-1, "Broken"}), NSError);
        EXPECT_THROW(unit->presetState(AUAudioUnitPreset{-1, "a/b"}), NSError);
    });

    const std::string unable = "AUExtension::ERROR: Unable to restore set for preset ";
    log = logOf([&] { unit->setCurrentPreset(AUAudioUnitPreset{-2, "Missing"}); });
    EXPECT_EQ(log, (Lines{missingFile("Missing"), unable + "Missing"}));
    log = logOf([&] { unit->setCurrentPreset(AUAudioUnitPreset{-3, "Broken"}); });
    ASSERT_EQ(log.size(), 2u); // the model's line comes through the main queue, after the unit's
    EXPECT_EQ(log[0], unable + "Broken");
    EXPECT_EQ(log[1].rfind("OrvoPreset::loadFromFile() : ERROR: Could not read the file '", 0), 0u) << log[1];
    EXPECT_EQ(unit->currentPreset(), std::nullopt);
    EXPECT_EQ(unit->getParameter(kReverbSize0), 0.2f);

    log = logOf([&] { unit->setCurrentPreset(AUAudioUnitPreset{-1, "Mine"}); });
    EXPECT_TRUE(log.empty()) << log.front();
    EXPECT_EQ(unit->currentPreset(), (AUAudioUnitPreset{-1, "Mine"}));
    EXPECT_EQ(unit->getParameter(kSplit1), 0.8f);
    EXPECT_EQ(unit->getParameter(kSplit2), 0.9f);
    EXPECT_EQ(unit->getParameter(kReverbSize0), 0.9f);
}

TEST_F(UnitState, BadValuesInAPresetFileApplyNothingForTheirEntry) {
    auto unit = makeUnit();
    std::string text = testkit::kHallXML;
    auto replace = [&text](const std::string& from, const std::string& to) {
        const auto at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
    };
    replace("<real>0.8</real>", "<string>0.8</string>"); // split 1
    replace("<real>3.0</real>", "<real>nan</real>");     // reverb model
    replace("<real>0.9</real>", "<real>0.25</real>");    // split 2
    writePreset("Odd.aupreset", text);
    const float split1 = unit->getParameter(kSplit1), model = unit->getParameter(kReverbModel0);

    ASSERT_EQ(unit->factoryPresets().size(), 1u);
    const Lines log = logOf([&] { unit->setCurrentPreset(AUAudioUnitPreset{0, "Odd"}); });
    EXPECT_EQ(
        log,
        (Lines{"OrvoPreset::fromDictionary() : WARNING: The entry 'param 0' is not usable and is skipped.",
               "OrvoPreset::fromDictionary() : WARNING: The entry 'param 2' is not usable and is skipped."}));
    EXPECT_EQ(unit->getParameter(kSplit1), split1);
    EXPECT_EQ(unit->getParameter(kReverbModel0), model);
    EXPECT_EQ(unit->getParameter(kSplit2), std::max(0.25f, split1));

    // Codes beyond 32 bits make a user preset foreign: nothing of it applies.
    replace("<integer>1447841106</integer>", "<integer>5742808402</integer>");
    replace("<real>0.25</real>", "<real>0.95</real>");
    writePreset("Huge.aupreset", text);
    const Lines huge = logOf([&] { unit->setCurrentPreset(AUAudioUnitPreset{-1, "Huge"}); });
    EXPECT_TRUE(contains(
        huge, "AUExtension::fullState() : ERROR: The component description of the patch does not match."));
    EXPECT_EQ(unit->getParameter(kSplit2), std::max(0.25f, split1));
}

TEST_F(UnitState, TwoUnitsNeverSeeEachOthersPresets) {
    auto first = makeUnit();
    auto second = makeUnit();
    writePreset("Hall.aupreset", testkit::kHallXML);
    const std::vector<float> secondBefore = allValues(*second);

    ASSERT_EQ(first->factoryPresets().size(), 1u);
    ASSERT_EQ(second->factoryPresets().size(), 1u);
    (void)logOf([&] { first->setCurrentPreset(AUAudioUnitPreset{0, "Hall"}); });
    EXPECT_EQ(first->getParameter(kReverbModel0), 3.0f);
    EXPECT_EQ(allValues(*second), secondBefore);

    // The second unit reading states or presets leaves the first alone.
    const std::vector<float> firstBefore = allValues(*first);
    (void)logOf([&] {
        second->setFullState(*second->fullState());
        (void)second->presetState(AUAudioUnitPreset{0, "Hall"});
        second->setCurrentPreset(AUAudioUnitPreset{-1, "Hall"});
    });
    EXPECT_EQ(allValues(*first), firstBefore);
    EXPECT_EQ(allValues(*second), firstBefore);

    // Neither keeps the other alive.
    std::weak_ptr<Unit> watch = first;
    first.reset();
    EXPECT_TRUE(watch.expired());
    (void)logOf([&] { second->setCurrentPreset(AUAudioUnitPreset{0, "Hall"}); });
    EXPECT_EQ(second->currentPreset(), (AUAudioUnitPreset{0, "Hall"}));
}

TEST_F(UnitState, UnitsRestoringOnTwoThreadsEachGetTheirOwnState) {
    std::shared_ptr<Unit> units[] = {makeUnit(), makeUnit()};
    Dictionary states[2];
    {
        testkit::StdoutCapture quiet;
        for (int i = 0; i < 2; ++i) {
            changeEverything(*units[i], 100u + static_cast<unsigned>(i));
            states[i] = *units[i]->fullState();
        }
        // Each thread puts the other unit's state back again and again.
        auto restore = [&](int i) {
            for (int round = 0; round < 20; ++round)
                units[i]->setFullState(states[round % 2 == 0 ? i : 1 - i]);
        };
        std::thread other(restore, 1);
        restore(0);
        other.join();
        DispatchQueue::main().drain();
    }
    for (int i = 0; i < 2; ++i) EXPECT_EQ(quietState(*units[i]), states[1 - i]) << "unit " << i;
}

TEST_F(UnitState, MangledStatesNeverCrashOrLeaveValuesUnfinite) {
    auto unit = makeUnit();
    const Dictionary good = quietState(*unit);
    std::mt19937 random(77);
    const std::vector<PropertyList> oddities = {PropertyList("text"),
                                                PropertyList(std::numeric_limits<double>::quiet_NaN()),
                                                PropertyList(-std::numeric_limits<double>::infinity()),
                                                PropertyList(std::int64_t{-1}),
                                                PropertyList(std::numeric_limits<std::int64_t>::max()),
                                                PropertyList(PropertyList::Array{}),
                                                PropertyList(true),
                                                PropertyList(1e39),
                                                PropertyList(Dictionary{})};
    testkit::StdoutCapture quiet;
    for (int round = 0; round < 150; ++round) {
        Dictionary state = good;
        Dictionary& group = *state["group 0"].dictionary();
        for (int e = 0; e < 6; ++e) {
            const std::string key = "param " + std::to_string(random() % 111);
            Dictionary& entry = *group[key].dictionary();
            const char* field = random() % 2 ? "value" : "address";
            entry[field] = oddities[random() % oddities.size()];
        }
        if (random() % 4 == 0)
            state["group " + std::to_string(random() % 3)] = oddities[random() % oddities.size()];
        unit->setFullState(state);
        for (float value : allValues(*unit)) ASSERT_TRUE(std::isfinite(value)) << "round " << round;
    }
    DispatchQueue::main().drain();
}

TEST_F(UnitState, TheEditorReadsMetersAndSpectrumThroughTheUnit) {
    testkit::TestHost host(makeUnit());
    Unit& unit = *host.unit;
    {
        testkit::StdoutCapture quiet;
        host.allocate();
        renderAll(host);
    }
    auto& adapter = *unit.kernelAdapter();
    EXPECT_GT(unit.getPeakInput(), 0.0f);
    EXPECT_EQ(unit.getPeakInput(), adapter.getPeakInput());
    EXPECT_EQ(unit.getPeakOutput(), adapter.getPeakOutput());
    EXPECT_NE(unit.getMagnitudes(), nullptr);
    EXPECT_EQ(unit.getMagnitudes(), adapter.getMagnitutes());
    EXPECT_GT(unit.getChromaticFrequency(69), 0.0f);
    EXPECT_EQ(unit.getChromaticFrequency(69), adapter.getChromaticFrequency(69));
    // A note beyond 32 bits is no note, not note 69 again.
    EXPECT_EQ(unit.getChromaticFrequency((NSInteger{1} << 32) + 69), 0.0f);
    float* scaled = unit.getMagnitudesScaled(128, 0.5f);
    EXPECT_EQ(scaled, adapter.getMagnitutesScaled(128, 0.5f));
    EXPECT_EQ(unit.getMagnitudesScaled(NSInteger{1} << 40, 0.5f), scaled);

    const Lines log = logOf([&] {
        EXPECT_TRUE(unit.supportsUserPresets());
        EXPECT_TRUE(unit.supportsUserPresets());
    });
    EXPECT_EQ(log, Lines(2, "AUExtension::supportsUserPresets: true"));
}
