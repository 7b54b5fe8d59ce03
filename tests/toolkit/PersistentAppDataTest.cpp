#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "Orvo_Halden_Extension/PersistentAppData.h"
#include "tests/support/StdoutCapture.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;
using testkit::StdoutCapture;
using Storage = PersistentAppData::Storage;

namespace {

class PersistentAppDataTest : public ::testing::Test {
protected:
    void SetUp() override { UserDefaults::setStorageFolder(root.path().string()); }
    void TearDown() override {
        UserDefaults::standard().removeSuiteNamed(sharedContainer);
        UserDefaults::setStorageFolder(std::nullopt);
        UserDefaults::resetStandardUserDefaults();
    }

    testkit::TempFolder root{"orvo-appdata"};
};

TEST(PersistentAppDataStorage, RawValuesNameTheThreeStores) {
    EXPECT_EQ(PersistentAppData::storage(0), Storage::defaults);
    EXPECT_EQ(PersistentAppData::storage(1), Storage::shared);
    EXPECT_EQ(PersistentAppData::storage(2), Storage::combined);
    EXPECT_EQ(PersistentAppData::storage(3), std::nullopt);
    EXPECT_EQ(PersistentAppData::storage(-1), std::nullopt);
}

TEST_F(PersistentAppDataTest, EveryTypeRoundTripsThroughEachStoreAndSurvivesReopening) {
    const URL folder = URL::fileURLWithPath("/data/Orvo Halden/loops");
    const PropertyList object(PropertyList::Array{"a", 2, 3.5});
    {
        PersistentAppData data;
        for (Storage storage : {Storage::defaults, Storage::shared, Storage::combined}) {
            const std::string p = std::to_string(static_cast<int>(storage));
            data.setString("string" + p, "text " + p, storage);
            data.setInteger("integer" + p, -1234567890123 - static_cast<int>(storage), storage);
            data.setFloat("float" + p, 0.3f + static_cast<float>(storage), storage);
            data.setBool("bool" + p, true, storage);
            data.setURL("url" + p, folder, storage);
            data.setObject("object" + p, object, storage);
        }
    }
    UserDefaults::resetStandardUserDefaults();
    PersistentAppData reopened;
    for (Storage storage : {Storage::defaults, Storage::shared, Storage::combined}) {
        const std::string p = std::to_string(static_cast<int>(storage));
        SCOPED_TRACE("storage " + p);
        EXPECT_EQ(reopened.getString("string" + p, storage), "text " + p);
        EXPECT_EQ(reopened.getInteger("integer" + p, storage), -1234567890123 - static_cast<int>(storage));
        EXPECT_EQ(reopened.getFloat("float" + p, storage), 0.3f + static_cast<float>(storage));
        EXPECT_TRUE(reopened.getBool("bool" + p, storage));
        EXPECT_EQ(reopened.getUrl("url" + p, storage), folder);
        EXPECT_EQ(reopened.getObject("object" + p, storage), object);
    }
    EXPECT_TRUE(fs::exists(root / (std::string(sharedContainer) + ".plist")));
}

TEST_F(PersistentAppDataTest, AbsentURLsAndObjectsRemoveTheirKeys) {
    PersistentAppData data;
    for (Storage storage : {Storage::defaults, Storage::shared}) {
        data.setURL("url", URL::fileURLWithPath("/x"), storage);
        data.setObject("object", PropertyList(1), storage);
        data.setURL("url", std::nullopt, storage);
        data.setObject("object", std::nullopt, storage);
        EXPECT_EQ(data.getUrl("url", storage), std::nullopt);
        EXPECT_EQ(data.getObject("object", storage), std::nullopt);
    }
}

TEST_F(PersistentAppDataTest, MissingKeysGiveTheDefaults) {
    PersistentAppData data;
    for (Storage storage : {Storage::defaults, Storage::shared, Storage::combined}) {
        EXPECT_EQ(data.getString("missing", storage), std::nullopt);
        EXPECT_EQ(data.getInteger("missing", storage), 0);
        EXPECT_EQ(data.getFloat("missing", storage), 0.0f);
        EXPECT_FALSE(data.getBool("missing", storage));
        EXPECT_EQ(data.getUrl("missing", storage), std::nullopt);
        EXPECT_EQ(data.getObject("missing", storage), std::nullopt);
    }
}

TEST_F(PersistentAppDataTest, CombinedReadsTheOwnDomainFirstThenTheSuite) {
    PersistentAppData data;
    data.setInteger("own", 5);
    EXPECT_EQ(data.getInteger("own", Storage::shared), 0) << "the suite holds no value of its own";

    data.setInteger("fromSuite", 7, Storage::shared);
    EXPECT_EQ(data.getInteger("fromSuite", Storage::combined), 7);
    EXPECT_EQ(data.getInteger("fromSuite", Storage::defaults), 7) << "defaults is the combined object";

    data.setInteger("fromSuite", 9, Storage::defaults);
    EXPECT_EQ(data.getInteger("fromSuite", Storage::combined), 9) << "the program's own value wins";
    EXPECT_EQ(data.getInteger("fromSuite", Storage::shared), 7);

    data.setString("written", "through combined", Storage::combined);
    EXPECT_EQ(data.getString("written", Storage::shared), std::nullopt) << "combined writes the own domain";
    EXPECT_EQ(data.getString("written", Storage::defaults), "through combined");

    // The suite is one file that another program opening the same folder sees.
    UserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(UserDefaults::suite(sharedContainer)->integer("fromSuite"), 7);
}

TEST_F(PersistentAppDataTest, AnUnopenableSuiteFallsBackToMemoryWithAWarning) {
    std::ofstream(root / "blocker") << "a file where the folder should be";
    UserDefaults::setStorageFolder((root / "blocker" / "settings").string());

    StdoutCapture capture;
    PersistentAppData data;
    data.setInteger("volume", 11, Storage::shared);
    const std::string output = capture.finish();

    EXPECT_NE(output.find("PersistentAppData::shared : WARNING: "), std::string::npos) << output;
    EXPECT_EQ(data.getInteger("volume", Storage::shared), 11);
    EXPECT_EQ(data.getInteger("volume", Storage::combined), 11) << "the search list finds the memory suite";
    EXPECT_EQ(sharedUserDefaults()->integer("volume"), 11) << "reopening finds the same memory";
}

TEST(PersistentAppDataFrame, FrameToDictionaryWritesTheFourEdges) {
    const PropertyList::Dictionary expected = {
        {"left", 10.0}, {"top", 20.0}, {"width", 300.0}, {"height", 200.0}};
    EXPECT_EQ(PersistentAppData::frameToDictionary(CGRect(10, 20, 300, 200)), expected);
    EXPECT_EQ(PersistentAppData::frameToDictionary(CGRect(310, 220, -300, -200)), expected)
        << "a negative size describes the same rectangle";
    const PropertyList::Dictionary narrowed = PersistentAppData::frameToDictionary(CGRect(0.1, 0, 0, 0));
    EXPECT_EQ(narrowed.at("left"), PropertyList(static_cast<double>(0.1f))) << "32-bit floats";
}

TEST_F(PersistentAppDataTest, DictionaryToFrameReadsSavedFramesAndRefusesOthers) {
    PersistentAppData data; // adds the suite again after an earlier test took it away
    data.setObject("window", PropertyList(PersistentAppData::frameToDictionary(CGRect(10, 20, 300, 200))));
    UserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(PersistentAppData::dictionaryToFrame("window"), CGRect(10, 20, 300, 200));

    data.setObject("leftOnly", PropertyList(PropertyList::Dictionary{{"left", 5.0}}));
    EXPECT_EQ(PersistentAppData::dictionaryToFrame("leftOnly"), CGRect(5, 0, 100, 100));

    data.setObject("extra", PropertyList(PropertyList::Dictionary{{"top", 3}, {"depth", 9.0}}));
    EXPECT_EQ(PersistentAppData::dictionaryToFrame("extra"), CGRect(0, 3, 100, 100)) << "other keys ignored";

    data.setString("text", "not a frame");
    EXPECT_EQ(PersistentAppData::dictionaryToFrame("text"), std::nullopt);
    data.setObject("mixed", PropertyList(PropertyList::Dictionary{{"left", 5.0}, {"top", "high"}}));
    EXPECT_EQ(PersistentAppData::dictionaryToFrame("mixed"), std::nullopt);
    EXPECT_EQ(PersistentAppData::dictionaryToFrame("missing"), std::nullopt);

    data.setObject("sharedFrame", PropertyList(PropertyList::Dictionary{{"left", 1.0}}), Storage::shared);
    EXPECT_EQ(PersistentAppData::dictionaryToFrame("sharedFrame"), CGRect(1, 0, 100, 100))
        << "defaults falls back to the suite";
}

TEST_F(PersistentAppDataTest, DumpoutPrintsTheThreeStores) {
    PersistentAppData data;
    data.setInteger("alpha", 1);
    data.setString("beta", "two", Storage::shared);

    StdoutCapture capture;
    data.dumpout();
    const std::vector<std::string> lines = testkit::splitLines(capture.finish());

    const std::vector<std::string> expected = {
        "PersistentAppData::dumpout() : UserDefaults.standard : ",
        "alpha = 1 ",
        "",
        "beta = two ",
        "",
        "PersistentAppData::dumpout() : UserDefaults.shared : ",
        "beta = two ",
        "",
        "PersistentAppData::dumpout() : UserDefaults.combined : ",
        "alpha = 1 ",
        "",
        "beta = two ",
        "",
    };
    EXPECT_EQ(lines, expected);
}

} // namespace
