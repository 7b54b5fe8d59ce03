#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Orvo_Halden_Extension/Extensions.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/RunLoop.h"
#include "tests/support/StdoutCapture.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;
using testkit::StdoutCapture;

namespace {

const std::regex
    uniqueShape("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}-[0-9A-F]+-[0-9A-F]+");

TEST(StringValue, ReadsTheCodeMostSignificantByteFirst) {
    EXPECT_EQ(stringValue(0x61756D66), "aumf");
    EXPECT_EQ(stringValue(0x564C4D52), "VLMR");
    EXPECT_EQ(stringValue(0x6F68646E), "ohdn");
    EXPECT_EQ(stringValue(0x41000000), std::string("A\0\0\0", 4));
}

TEST(StringValue, HighBytesAreMacOSRomanCharacters) {
    // 0x8E é, 0x8A ä, 0xA5 bullet, 0xDB euro sign.
    EXPECT_EQ(stringValue(0x8E8AA5DB), "\u00E9\u00E4\u2022\u20AC");
    EXPECT_EQ(stringValue(0xFFFFFFFF), "\u02C7\u02C7\u02C7\u02C7");
    EXPECT_EQ(stringValue(0x61C6F06D), "a\u2206\uF8FFm");
}

TEST(UniqueName, PrefixAndDashOnlyWhenAPrefixIsGiven) {
    const std::string bare = uniqueName(std::nullopt);
    EXPECT_TRUE(std::regex_match(bare, uniqueShape)) << bare;

    const std::string empty = uniqueName(std::string());
    ASSERT_EQ(empty.front(), '-');
    EXPECT_TRUE(std::regex_match(empty.substr(1), uniqueShape)) << empty;

    const std::string named = uniqueName("Preset");
    ASSERT_EQ(named.rfind("Preset-", 0), 0u);
    EXPECT_TRUE(std::regex_match(named.substr(7), uniqueShape)) << named;

    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) seen.insert(uniqueName("x"));
    EXPECT_EQ(seen.size(), 1000u);
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override { DispatchQueue::main().drain(); }
};

TEST_F(LogTest, LinesFromManyThreadsAppearOnlyWhenTheMainQueueRunsInCallOrder) {
    constexpr int threads = 4;
    constexpr int lines = 200;
    std::mutex turn;
    int next = 0; // the call order, shared by all threads
    std::vector<std::thread> writers;

    StdoutCapture capture;
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < lines; ++i) {
                std::lock_guard lock(turn);
                const std::string text = "line " + std::to_string(next++) + " from " + std::to_string(t);
                if (i % 2)
                    safeprint(text);
                else
                    debugprint(text);
            }
        });
    }
    for (auto& writer : writers) writer.join();
    const std::string beforeQueue = capture.text();

    std::thread elsewhere([] { DispatchQueue::main().drain(); }); // not the main thread: prints nothing
    elsewhere.join();
    const std::string offMain = capture.text();

    DispatchQueue::main().drain();
    const std::vector<std::string> printed = testkit::splitLines(capture.finish());

    EXPECT_EQ(beforeQueue, "");
    EXPECT_EQ(offMain, "");
    ASSERT_EQ(printed.size(), std::size_t(threads * lines));
    for (int n = 0; n < threads * lines; ++n)
        EXPECT_EQ(printed[n].rfind("line " + std::to_string(n) + " from ", 0), 0u) << printed[n];
}

TEST_F(LogTest, TheMainRunLoopPrintsPendingLines) {
    VirtualClock clock;
    StdoutCapture capture;
    std::thread background([] { safeprint("from the background"); });
    background.join();
    safeprint("from main");
    const std::string early = capture.text();
    RunLoop::main().runUntil(clock.now());
    const std::string out = capture.finish();
    EXPECT_EQ(early, "");
    EXPECT_EQ(out, "from the background\nfrom main\n");
}

// A fresh folder per test; ORVO_DOCUMENTS_DIR and ORVO_RESOURCES_DIR restored afterwards.
class PathTest : public LogTest {
protected:
    void SetUp() override {
        LogTest::SetUp();
        root = folder.path();
    }
    URL at(const std::string& relative) const { return URL::fileURLWithPath((root / relative).string()); }

    // Runs `body` and returns the lines it logged once the main queue has run.
    template <class Body> std::vector<std::string> logged(Body body) {
        StdoutCapture capture;
        body();
        DispatchQueue::main().drain();
        return testkit::splitLines(capture.finish());
    }

    testkit::TempFolder folder{"orvo-ext"};
    testkit::ScopedEnvironment environment{"ORVO_DOCUMENTS_DIR", "ORVO_RESOURCES_DIR"};
    fs::path root;
};

TEST_F(PathTest, EnsureDirectoryExistsMakesEveryLevelOrAcceptsAFolder) {
    bool made = false;
    const auto lines = logged([&] { made = ensureDirectoryExists(at("a/b/c")); });
    EXPECT_TRUE(made);
    EXPECT_TRUE(fs::is_directory(root / "a" / "b" / "c"));
    EXPECT_TRUE(lines.empty());

    bool again = false;
    EXPECT_TRUE(logged([&] { again = ensureDirectoryExists(at("a/b")); }).empty());
    EXPECT_TRUE(again);
}

TEST_F(PathTest, EnsureDirectoryExistsRefusesAPlainFileWithTheErrorLine) {
    std::ofstream(root / "plain") << "keep me";
    for (const std::string relative : {"plain", "plain/below"}) {
        bool result = true;
        const auto lines = logged([&] { result = ensureDirectoryExists(at(relative)); });
        EXPECT_FALSE(result) << relative;
        ASSERT_EQ(lines.size(), 1u) << relative;
        const std::string expected = "ensureDirectoryExists() : ERROR: Creating required directory '" +
                                     at(relative).path() + "' failed: ";
        EXPECT_EQ(lines[0].rfind(expected, 0), 0u) << lines[0];
        EXPECT_GT(lines[0].size(), expected.size()) << "a reason follows";
    }
    std::ifstream kept(root / "plain");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep me");
}

TEST_F(PathTest, GetPathsFillsTheFolderValuesAndLogsThem) {
    EXPECT_FALSE(documentsURL);
    EXPECT_FALSE(resourcesURL);

    ::setenv("ORVO_DOCUMENTS_DIR", (root / "docs").c_str(), 1);
    ::setenv("ORVO_RESOURCES_DIR", (root / "res").c_str(), 1);
    auto lines = logged(getPaths);
    ASSERT_TRUE(documentsURL);
    ASSERT_TRUE(resourcesURL);
    EXPECT_EQ(documentsURL->path(), (root / "docs").string());
    EXPECT_EQ(resourcesURL->path(), (root / "res").string());
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "AudioUnitViewController::getPaths() : Audio Unit's documents path is: " +
                             (root / "docs").string(),
                         "AudioUnitViewController::getPaths() : Audio Unit's resources path is: " +
                             (root / "res").string()}));

    // No resources folder beside the test program: the value is cleared and an ERROR logged.
    ::unsetenv("ORVO_RESOURCES_DIR");
    lines = logged(getPaths);
    EXPECT_FALSE(resourcesURL);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "AudioUnitViewController::getPaths() : ERROR: Audio Unit's resources path is nil.");

    EXPECT_FALSE(sharedURLAudio);
    EXPECT_FALSE(sharedURLMIDI);

    documentsURL.reset(); // as a fresh process has them
    resourcesURL.reset();
}

TEST(Capitals, HoldsTheListOnce) {
    const std::set<std::string_view> distinct(capitals.begin(), capitals.end());
    EXPECT_EQ(distinct.size(), 197u);
    EXPECT_EQ(capitals.front(), "Kabul");
    EXPECT_EQ(capitals[29], "Yaoundé");
    EXPECT_EQ(capitals.back(), "Harare");
}

} // namespace
