#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "Orvo_Halden_Extension/OrvoPreset.h"
#include "tests/Orvo_Halden_Extension/HallPreset.h"
#include "tests/Orvo_Halden_Extension/PresetFiles.h"
#include "tests/support/NamedPipe.h"

namespace {

using Dictionary = PropertyList::Dictionary;
using Lines = std::vector<std::string>;
using testkit::logOf;

constexpr AudioComponentDescription kOrvo{fourCharCode("aumf"), fourCharCode("ohdn"), fourCharCode("VLMR"), 0,
                                          0};

struct Found {
    std::int64_t group;
    std::string identifier;
    std::uint64_t address;
    float value;
    bool operator==(const Found&) const = default;
};

class Recorder : public OrvoPresetDelegate {
public:
    void onFoundParameter(std::int64_t group, const std::string& identifier, std::uint64_t address,
                          float value) override {
        found.push_back({group, identifier, address, value});
    }
    std::vector<Found> found;
};

Dictionary param(std::int64_t address, const std::string& identifier, double value) {
    return {{"address", address}, {"identifier", identifier}, {"value", value}};
}

const Dictionary& group0(const Dictionary& patch) { return *patch.at("group 0").dictionary(); }

std::vector<std::int64_t> addresses(const Dictionary& group) {
    std::vector<std::int64_t> result;
    const auto count = *group.at("count").integer();
    for (std::int64_t i = 0; i < count; ++i)
        result.push_back(*group.at("param " + std::to_string(i)).find("address")->integer());
    return result;
}

std::shared_ptr<AUParameter> parameter(const std::string& identifier, AUParameterAddress address) {
    return AUParameterTree::createParameter(identifier, identifier, address, 0, 1,
                                            kAudioUnitParameterUnit_Generic, std::nullopt, 0, std::nullopt,
                                            {});
}

} // namespace

TEST(OrvoPreset, ANewModelWritesTheDefaults) {
    OrvoPreset preset;
    const Dictionary expected{
        {"version", 1}, {"type", 0},        {"manufacturer", fourCharCode("VLMR")}, {"subtype", 0},
        {"number", 0},  {"name", "Preset"}, {"data", PropertyList::Data{}},         {"count", 0},
        {"link", ""}};
    EXPECT_EQ(preset.getDictionary(), expected);
}

TEST(OrvoPreset, DescriptionGoesIntoTheDictionaryAndOnlyTheThreeCodesAreChecked) {
    OrvoPreset preset;
    preset.setDescription({kOrvo.componentType, kOrvo.componentSubType, kOrvo.componentManufacturer, 7, 9}, 3,
                          "Hall");
    const Dictionary dict = preset.getDictionary();
    EXPECT_EQ(dict.at("version"), PropertyList(3));
    EXPECT_EQ(dict.at("name"), PropertyList("Hall"));
    EXPECT_EQ(dict.at("type"), PropertyList(1635085670)); // 'aumf'
    EXPECT_EQ(dict.at("subtype"), PropertyList(fourCharCode("ohdn")));
    EXPECT_EQ(dict.at("manufacturer"), PropertyList(fourCharCode("VLMR")));

    EXPECT_TRUE(preset.checkDescription(kOrvo, 5));
    for (auto change :
         {&AudioComponentDescription::componentType, &AudioComponentDescription::componentSubType,
          &AudioComponentDescription::componentManufacturer}) {
        AudioComponentDescription other = kOrvo;
        other.*change ^= 1;
        EXPECT_FALSE(preset.checkDescription(other));
    }
}

TEST(OrvoPreset, TreeGroupsAreRecordedDepthFirstWithoutLooseParameters) {
    auto inner = AUParameterTree::createGroup("inner", "Inner", {parameter("p4", 7), parameter("p5", 1)});
    auto outer = AUParameterTree::createGroup(
        "outer", "Outer", {parameter("p1", 5), parameter("p2", 2), parameter("p3", 9), inner});
    auto tree = AUParameterTree::createTree({parameter("loose", 50), outer});
    tree->parameterWithAddress(9)->setValue(0.25f);

    OrvoPreset preset;
    preset.makeFrom(tree.get());
    ASSERT_EQ(preset.patch().groups.size(), 2u);
    EXPECT_EQ(preset.patch().groups[1]->identifier, "inner");
    // Tree order until written, address order afterwards.
    EXPECT_EQ(preset.patch().groups[0]->params.front().address, 5u);
    const Dictionary dict = preset.getDictionary();
    EXPECT_EQ(dict.at("count"), PropertyList(2));
    EXPECT_EQ(group0(dict).at("identifier"), PropertyList("outer"));
    EXPECT_EQ(addresses(group0(dict)), (std::vector<std::int64_t>{1, 2, 5, 7, 9}));
    EXPECT_EQ(addresses(*dict.at("group 1").dictionary()), (std::vector<std::int64_t>{1, 7}));
    EXPECT_EQ(*group0(dict).at("param 4").find("value")->real(), 0.25);
    EXPECT_EQ(*group0(dict).at("param 4").find("identifier")->string(), "p3");

    const Lines log = logOf([&] { preset.makeFrom(static_cast<const AUParameterGroup*>(nullptr)); });
    EXPECT_EQ(log, Lines{"OrvoPreset::makeFrom() : The parameter group has no children."});
    EXPECT_EQ(preset.patch().groups.size(), 2u);
}

TEST(OrvoPreset, EmptyPatchesAndGroupsWriteCountZero) {
    OrvoPreset preset;
    preset.patch().groups.push_back(std::make_unique<PresetGroup>());
    const Dictionary dict = preset.getDictionary();
    EXPECT_EQ(group0(dict), (Dictionary{{"identifier", "group"}, {"count", 0}}));
}

TEST(OrvoPreset, ReadingFindsGroupsAndParamsByKeyWordAndIgnoresCount) {
    auto recorder = std::make_shared<Recorder>();
    OrvoPreset preset(recorder);
    const Dictionary state{
        {"count", 5},
        {"my groups", Dictionary{{"identifier", "group 12"},
                                 {"count", 7},
                                 {"aparam", param(9, "kA", 0.5)}, // read before the identifier
                                 {"parameter", param(2, "kB", 0.25)},
                                 {"unrelated", param(1, "kC", 1.0)}}},
        {"name", "Read"}};
    preset.makeFrom(state);
    EXPECT_EQ(recorder->found, (std::vector<Found>{{0, "kA", 9, 0.5f}, {12, "kB", 2, 0.25f}}));
    const Dictionary dict = preset.getDictionary();
    EXPECT_EQ(dict.at("count"), PropertyList(1));
    EXPECT_EQ(dict.at("name"), PropertyList("Read"));
    EXPECT_EQ(addresses(group0(dict)), (std::vector<std::int64_t>{2, 9}));
    // No codes in the state: the description stays zero and is not this effect's.
    EXPECT_EQ(preset.componentDescription, AudioComponentDescription{});
    EXPECT_FALSE(preset.checkDescription(kOrvo));
}

TEST(OrvoPreset, ReadingReplacesGroupsAndKeepsFieldsWhoseKeysAreMissing) {
    OrvoPreset preset;
    preset.makeFrom(Dictionary{{"name", "First"},
                               {"type", fourCharCode("aumf")},
                               {"group 0", Dictionary{{"param 0", param(1, "a", 0.1)}}},
                               {"group 1", Dictionary{{"param 0", param(2, "b", 0.2)}}}});
    preset.makeFrom(Dictionary{{"group 0", Dictionary{{"param 0", Dictionary{}}}}});
    const Dictionary dict = preset.getDictionary();
    EXPECT_EQ(dict.at("name"), PropertyList("First"));
    EXPECT_EQ(preset.componentDescription.componentType, fourCharCode("aumf"));
    EXPECT_EQ(dict.at("count"), PropertyList(1));
    EXPECT_EQ(group0(dict).at("param 0"), PropertyList(param(0, "parameter", 0.0)));

    auto recorder = std::make_shared<Recorder>();
    OrvoPreset fresh(recorder);
    fresh.makeFrom(Dictionary{{"group 0", Dictionary{{"param 0", Dictionary{}}}}});
    EXPECT_EQ(recorder->found, (std::vector<Found>{{0, "parameter", 0, 0.0f}}));
    fresh.makeFrom(std::nullopt);
    EXPECT_EQ(recorder->found.size(), 1u);
}

TEST(OrvoPreset, GroupNumbersComeFromTheLastWordOfTheIdentifier) {
    const std::vector<std::pair<std::string, std::int64_t>> cases = {
        {"group 12", 12},
        {"12", 12},
        {"-4", -4},
        {"+7", 7},
        {"", 0},
        {"group", 0},
        {"group ", 0},
        {"a 1 b", 0},
        {"kGlobalParameters", 0},
        {" 3", 3},
        {"+-3", 0},
        {"group 1x", 0},
        {"group 99999999999999999999", 0},
        {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()}};
    for (const auto& [identifier, number] : cases) {
        PresetGroup group;
        group.identifier = identifier;
        EXPECT_EQ(group.findGroupNumber(), number) << '"' << identifier << '"';
    }
}

TEST(OrvoPreset, EntriesOfTheWrongTypeAreSkippedWithAWarning) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Dictionary state{
        {"type", "aumf"},
        {"subtype", std::int64_t{1} << 40},
        {"manufacturer", -1},
        {"version", "one"},
        {"number", 2.5},
        {"name", 5},
        {"data", "text"},
        {"link", 3},
        {"group 1", 7},
        {"group 0", Dictionary{{"identifier", "kGlobalParameters"},
                               {"param 0", Dictionary{{"address", 1}, {"value", "loud"}}},
                               {"param 1", param(2, "kNaN", nan)},
                               {"param 2", param(3, "kInf", -inf)},
                               {"param 3", param(4, "kHuge", 1e300)},
                               {"param 4", param(-5, "kNegative", 0.5)},
                               {"param 5", Dictionary{{"address", 6.9}, {"value", 2}}},
                               {"param 6", "no dictionary"},
                               {"param 7", Dictionary{{"address", 8}, {"identifier", 12}, {"value", 0.5}}},
                               {"param 8", Dictionary{{"address", 9}, {"value", true}}},
                               {"param 9", Dictionary{{"address", std::nan("")}, {"value", 0.5}}}}}};
    auto recorder = std::make_shared<Recorder>();
    OrvoPreset preset(recorder);
    Lines log = logOf([&] { preset.makeFrom(state); });
    // Only the usable entry is reported; a whole real address is truncated.
    EXPECT_EQ(recorder->found, (std::vector<Found>{{0, "parameter", 6, 2.0f}}));
    const Dictionary dict = preset.getDictionary();
    EXPECT_EQ(dict, (Dictionary{{"version", 1},
                                {"type", 0},
                                {"manufacturer", fourCharCode("VLMR")},
                                {"subtype", 0},
                                {"number", 0},
                                {"name", "Preset"},
                                {"data", PropertyList::Data{}},
                                {"count", 1},
                                {"group 0", Dictionary{{"identifier", "kGlobalParameters"},
                                                       {"count", 1},
                                                       {"param 0", param(6, "parameter", 2.0)}}},
                                {"link", ""}}));
    Lines expected;
    for (const char* key :
         {"type", "subtype", "manufacturer", "version", "number", "name", "data", "link", "group 1",
          "param 0", "param 1", "param 2", "param 3", "param 4", "param 6", "param 7", "param 8", "param 9"})
        expected.push_back(std::string("OrvoPreset::fromDictionary() : WARNING: The entry '") + key +
                           "' is not usable and is skipped.");
    std::sort(log.begin(), log.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(log, expected);
}

TEST(OrvoPreset, ReportsOnlyToItsOwnDelegateAndKeepsNoneAlive) {
    auto first = std::make_shared<Recorder>();
    auto second = std::make_shared<Recorder>();
    OrvoPreset a(first), b(second), silent;
    a.makeFrom(Dictionary{{"group 0", Dictionary{{"param 0", param(1, "kA", 0.1)}}}});
    b.makeFrom(Dictionary{{"group 0", Dictionary{{"param 0", param(2, "kB", 0.2)}}}});
    silent.makeFrom(Dictionary{{"group 0", Dictionary{{"param 0", param(3, "kC", 0.3)}}}});
    EXPECT_EQ(first->found, (std::vector<Found>{{0, "kA", 1, 0.1f}}));
    EXPECT_EQ(second->found, (std::vector<Found>{{0, "kB", 2, 0.2f}}));

    std::weak_ptr<Recorder> watch = first;
    EXPECT_EQ(first.use_count(), 1);
    first.reset();
    EXPECT_TRUE(watch.expired());
    // A delegate gone meanwhile is simply not told.
    a.makeFrom(Dictionary{{"group 0", Dictionary{{"param 0", param(4, "kD", 0.4)}}}});
    EXPECT_EQ(addresses(group0(a.getDictionary())), std::vector<std::int64_t>{4});
}

// ---------------------------------------------------------------- files

class PresetFile : public testkit::DocumentsFixture {
protected:
    URL url(const std::string& name) const { return URL::fileURLWithPath((presets() / name).string()); }

    // A model that already holds something, to see that failures keep it.
    void fill(OrvoPreset& preset) const {
        preset.makeFrom(
            Dictionary{{"name", "Before"}, {"group 0", Dictionary{{"param 0", param(1, "kA", 0.5)}}}});
    }
};

TEST_F(PresetFile, SavedFileIsAnXmlPropertyListWithIntegerCodesAndSortedParams) {
    OrvoPreset preset;
    preset.setDescription(kOrvo, 1, "Hall");
    auto group = std::make_unique<PresetGroup>();
    group->identifier = "kGlobalParameters";
    for (std::uint64_t address : {5u, 1u, 3u})
        group->params.push_back({nullptr, address, "k" + std::to_string(address), 0.1f * float(address)});
    preset.patch().groups.push_back(std::move(group));
    ASSERT_TRUE(preset.save(url("Hall.aupreset")));

    const std::string text = read(presets() / "Hall.aupreset");
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist", 0), 0u);
    EXPECT_NE(text.find("<plist version=\"1.0\">\n<dict>\n"), std::string::npos);
    EXPECT_NE(text.find("\t<key>type</key>\n\t<integer>1635085670</integer>\n"), std::string::npos);
    EXPECT_NE(text.find("\t<key>manufacturer</key>\n\t<integer>1447841106</integer>\n"), std::string::npos);
    EXPECT_NE(text.find("\t<key>subtype</key>\n\t<integer>1869112430</integer>\n"), std::string::npos);

    PropertyListFormat format = PropertyListFormat::binary;
    const PropertyList root = PropertyListSerialization::propertyList(std::string_view(text), format);
    EXPECT_EQ(format, PropertyListFormat::xml);
    ASSERT_NE(root.dictionary(), nullptr);
    const Dictionary& group0Read = group0(*root.dictionary());
    EXPECT_EQ(group0Read.size(), 5u); // identifier, count, param 0...2
    EXPECT_EQ(addresses(group0Read), (std::vector<std::int64_t>{1, 3, 5}));
    EXPECT_EQ(group0Read.at("param 2").find("value")->type(), PropertyList::Type::real);
    EXPECT_EQ(*root.dictionary(), PropertyList(preset.getDictionary()));
}

TEST_F(PresetFile, SaveLoadSaveGivesTheSameBytes) {
    OrvoPreset first;
    first.makeFrom(Dictionary{{"name", "Room"},
                              {"data", PropertyList::Data{1, 2, 3}},
                              {"link", "see <manual> & more"},
                              {"group 0", Dictionary{{"identifier", "kGlobalParameters"},
                                                     {"param 0", param(46, "kReverbModel", 3.0)},
                                                     {"param 1", param(3, "kSplit1", 0.8f)},
                                                     {"param 2", param(26, "kReverbSize", 0.9f)}}}});
    ASSERT_TRUE(first.save(url("a.aupreset")));
    OrvoPreset second;
    ASSERT_TRUE(second.load(url("a.aupreset")));
    ASSERT_TRUE(second.save(url("b.aupreset")));
    EXPECT_EQ(read(presets() / "a.aupreset"), read(presets() / "b.aupreset"));
    EXPECT_EQ(first.getDictionary(), second.getDictionary());
}

TEST_F(PresetFile, BinaryFixtureLoadsLikeItsXmlTwin) {
    writePreset("xml.aupreset", testkit::kHallXML);
    writePreset("binary.aupreset", testkit::hallBinary());
    auto xmlRecorder = std::make_shared<Recorder>();
    auto binaryRecorder = std::make_shared<Recorder>();
    OrvoPreset xml(xmlRecorder), binary(binaryRecorder);
    ASSERT_TRUE(xml.load(url("xml.aupreset")));
    ASSERT_TRUE(binary.load(url("binary.aupreset")));
    EXPECT_EQ(xmlRecorder->found,
              (std::vector<Found>{
                  {0, "kSplit1", 3, 0.8f}, {0, "kSplit2", 4, 0.9f}, {0, "kReverbModel", 46, 3.0f}}));
    EXPECT_EQ(binaryRecorder->found, xmlRecorder->found);
    EXPECT_EQ(binary.getDictionary(), xml.getDictionary());
    EXPECT_TRUE(binary.checkDescription(kOrvo));
}

TEST_F(PresetFile, BadFilesLogTheirLineAndChangeNothing) {
    std::mt19937 random(8);
    std::string noise(512, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    std::filesystem::create_directory(presets() / "folder.aupreset");
    const std::string path = (presets() / "x.aupreset").string();
    const std::string cannotRead =
        "OrvoPreset::loadFromFile() : ERROR: Could not read the file '" + path + "': ";
    struct Case {
        const char* what;
        std::optional<std::string> contents; // none: no file
        std::string line;                    // the line, or its beginning
    };
    const std::vector<Case> cases = {
        {"missing", std::nullopt,
         "OrvoPreset::loadFromFile() : ERROR: The path " + path + " does not exist."},
        {"empty", "", cannotRead},
        {"garbage", "hello, preset", cannotRead},
        {"random bytes", noise, cannotRead},
        {"broken binary", "bplist00" + noise, cannotRead},
        {"half an XML file", testkit::kHallXML.substr(0, 400), cannotRead},
        {"root array", "<plist version=\"1.0\"><array><integer>1</integer></array></plist>",
         "OrvoPreset::loadFromFile() : ERROR: The file '" + path + "' holds no dictionary."},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(path);
        if (c.contents) write(path, *c.contents);
        auto recorder = std::make_shared<Recorder>();
        OrvoPreset preset(recorder);
        fill(preset);
        recorder->found.clear();
        const Dictionary before = preset.getDictionary();
        bool loaded = true;
        const Lines log = logOf([&] { loaded = preset.load(URL::fileURLWithPath(path)); });
        EXPECT_FALSE(loaded) << c.what;
        ASSERT_EQ(log.size(), 1u) << c.what;
        EXPECT_EQ(log[0].rfind(c.line, 0), 0u) << c.what << ": " << log[0];
        EXPECT_TRUE(recorder->found.empty()) << c.what;
        EXPECT_EQ(preset.getDictionary(), before) << c.what;
    }

    OrvoPreset preset;
    const Lines folder = logOf([&] { EXPECT_FALSE(preset.load(url("folder.aupreset"))); });
    EXPECT_EQ(folder, Lines{"OrvoPreset::loadFromFile() : ERROR: The file is not readable."});
    if (::geteuid() != 0) { // root reads every file
        write(path, testkit::kHallXML);
        ::chmod(path.c_str(), 0);
        const Lines locked = logOf([&] { EXPECT_FALSE(preset.load(URL::fileURLWithPath(path))); });
        EXPECT_EQ(locked, Lines{"OrvoPreset::loadFromFile() : ERROR: The file is not readable."});
    }
}

TEST_F(PresetFile, PipesDevicesAndHugeFilesAreRefusedWithoutWaiting) {
    const testkit::NamedPipe pipe(presets() / "Pipe.aupreset");
    ASSERT_TRUE(pipe.made());
    std::filesystem::create_symlink("/dev/zero", presets() / "Zeros.aupreset");
    // A valid preset grown past the limit by a hole: nothing of it is read.
    write(presets() / "Huge.aupreset", testkit::kHallXML);
    std::filesystem::resize_file(presets() / "Huge.aupreset", (16u << 20) + 1);
    const std::string notReadable = "OrvoPreset::loadFromFile() : ERROR: The file is not readable.";
    const std::pair<const char*, std::string> cases[] = {
        {"Pipe.aupreset", notReadable},
        {"Zeros.aupreset", notReadable},
        {"Huge.aupreset", "OrvoPreset::loadFromFile() : ERROR: The file '" +
                              (presets() / "Huge.aupreset").string() + "' is larger than 16777216 bytes."},
    };
    for (const auto& entry : cases) {
        const auto& name = entry.first;
        const auto& line = entry.second;
        auto recorder = std::make_shared<Recorder>();
        OrvoPreset preset(recorder);
        bool loaded = true;
        bool returned = false;
        const Lines log =
            logOf([&] { returned = pipe.returnsWithoutAWriter([&] { loaded = preset.load(url(name)); }); });
        EXPECT_TRUE(returned) << name;
        EXPECT_FALSE(loaded) << name;
        EXPECT_EQ(log, Lines{line}) << name;
        EXPECT_TRUE(recorder->found.empty()) << name;
    }
}

TEST_F(PresetFile, SavingFailuresAreLoggedAndWriteNothing) {
    OrvoPreset preset;
    const URL nowhere = URL::fileURLWithPath((documents / "missing" / "x.aupreset").string());
    Lines log = logOf([&] { EXPECT_FALSE(preset.save(nowhere)); });
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("OrvoPreset::loadFromFile() : ERROR: Could not save the file '" + nowhere.path() +
                               "'. (",
                           0),
              0u)
        << log[0];

    preset.setDescription(kOrvo, 1, "bell\x07");
    log = logOf([&] { EXPECT_FALSE(preset.save(url("bell.aupreset"))); });
    EXPECT_EQ(log, Lines{"OrvoPreset::loadFromFile() : ERROR: Could not serialize."});
    EXPECT_FALSE(std::filesystem::exists(presets() / "bell.aupreset"));
}

TEST_F(PresetFile, MangledFilesNeverCrashAndFailedLoadsReportNothing) {
    std::mt19937 random(2026);
    const std::string originals[] = {testkit::kHallXML, testkit::hallBinary()};
    const std::string path = (presets() / "fuzz.aupreset").string();
    int loaded = 0;
    for (int round = 0; round < 400; ++round) {
        std::string bytes = originals[round % 2];
        const int edits = 1 + static_cast<int>(random() % 8);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = random() % bytes.size();
            switch (random() % 4) {
            case 0:
                bytes[at] = static_cast<char>(random());
                break;
            case 1:
                bytes.erase(at, 1 + random() % 16);
                break;
            case 2:
                bytes.insert(at, 1, static_cast<char>(random()));
                break;
            default:
                bytes.resize(std::max<std::size_t>(at, 1));
                break;
            }
            if (bytes.empty()) bytes = "x";
        }
        write(path, bytes);
        auto recorder = std::make_shared<Recorder>();
        OrvoPreset preset(recorder);
        const bool ok = preset.load(URL::fileURLWithPath(path));
        loaded += ok;
        if (!ok) {
            EXPECT_TRUE(recorder->found.empty()) << "round " << round;
        }
        for (const Found& found : recorder->found)
            EXPECT_TRUE(std::isfinite(found.value)) << "round " << round;
    }
    testkit::StdoutCapture quiet;
    DispatchQueue::main().drain();
    quiet.finish();
    // The edits leave some files readable, so both outcomes were exercised.
    EXPECT_GT(loaded, 0);
    EXPECT_LT(loaded, 400);
}
