#include <fstream>

#include "platform/foundation/ProcessInfo.h"
#include "tests/Orvo Halden/AppTestSupport.h"

namespace {

using namespace apptest;

std::string manifest(const std::string& flags, const std::string& function) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>name</key><string>VLMR: Orvo Halden Extension (AU)</string>"
           "<key>type</key><string>aumf</string><key>subtype</key><string>ohdn</string>"
           "<key>manufacturer</key><string>VLMR</string><key>flags</key><integer>" +
           flags +
           "</integer><key>path</key><string>" ORVO_TEST_COMPONENT_FILE "</string>"
           "<key>factoryFunction</key><string>" +
           function + "</string></dict></plist>\n";
}

// The host over a registry folder and a loop folder of the test's own.
class HostTest : public ::testing::Test {
protected:
    HostTest() {
        testkit::ScopedEnvironment::set("ORVO_RESOURCES_DIR", loops.folder.path().string());
        testkit::ScopedEnvironment::set("ORVO_COMPONENT_PATH", registry.path().string());
    }

    // Makes the host (then calls `made`) and serves the main queue until
    // `done` (or a timeout).
    std::vector<std::string> run(const std::function<bool(const std::vector<std::string>&)>& done,
                                 const std::function<void()>& made = {}) {
        testkit::StdoutCapture capture;
        manager = AUExtensionManager::make(listener);
        if (made)
            made();
        manager->auEngine()->setDelegate(listener);
        offline(*manager->auEngine());
        found = testkit::drainMainQueueUntil([&] { return done(testkit::splitLines(capture.text())); });
        DispatchQueue::main().drain();
        return testkit::splitLines(capture.finish());
    }

    testkit::ScopedEnvironment environment{"ORVO_RESOURCES_DIR", "ORVO_COMPONENT_PATH"};
    LoopFolder loops{12000};
    testkit::TempFolder registry{"registry"};
    std::shared_ptr<Listener> listener = std::make_shared<Listener>();
    std::shared_ptr<AUExtensionManager> manager;
    bool found = false;
};

TEST_F(HostTest, FindsLoadsNamesAndConnectsTheEffectThenTellsTheDelegateOnceEach) {
    testkit::ScopedEnvironment::set("ORVO_COMPONENT_PATH", ORVO_TEST_COMPONENTS_DIR);
    const auto lines = run([&](const auto&) { return listener->calls.size() >= 2; });
    ASSERT_TRUE(found);
    EXPECT_EQ(listener->calls, (std::vector<std::string>{"found", "initialized"}));
    EXPECT_TRUE(listener->allOnMain);
    ASSERT_TRUE(listener->unit);
    EXPECT_EQ(listener->unit->auAudioUnit()->contextName(), "running in distribution host");
    EXPECT_EQ(manager->auEngine()->activeAVAudioUnit(), listener->unit);
    EXPECT_TRUE(manager->presets().empty());
    EXPECT_FALSE(manager->currentPreset());
    manager->setCurrentPreset(Preset{{0, "Hall"}});
    EXPECT_FALSE(manager->currentPreset());

    // The main road's lines, in this order.
    const std::vector<std::string> road = {
        "NOTE: WE ARE IN AUDIO UNIT RELEASE MODE. ENSURE THE STORYBOARD CONNECTIONS ARE VALID!",
        "AUExtensionManager: Loaded component has following properties.",
        "",
        "Process Name: " + ProcessInfo::processInfo().processName() +
            " PID: " + std::to_string(ProcessInfo::processInfo().processIdentifier()),
        "",
        "AUExtension (",
        "type: aumf",
        "subtype: ohdn",
        "manufacturer: VLMR",
        "flags: 0x00000002",
        ")",
        "AUExtensionManager: Audio unit was found, making connections now ...",
        "AUEnginePlayer: A new audio unit will be connected.",
        "AUEnginePlayer: Audio unit was attached.",
        "AUExtensionManager: Performed audio unit connection."};
    auto at = lines.begin();
    for (const auto& line : road) {
        at = std::find(at, lines.end(), line);
        ASSERT_NE(at, lines.end()) << line;
    }

    // The effect plays offline once found.
    EXPECT_TRUE(manager->togglePlayback());
    render(*manager->auEngine(), 2 * kBlock);
    EXPECT_FALSE(manager->togglePlayback());
    manager->cleanup();
    EXPECT_EQ(manager->auEngine()->activeAVAudioUnit(), nullptr);
}

TEST_F(HostTest, AnEmptyRegistryGivesTheErrorLineAndTheLoopPlaysDry) {
    const auto lines =
        run([](const auto& l) { return contains(l, "ERROR: There were no audio units found."); });
    ASSERT_TRUE(found);
    EXPECT_TRUE(listener->calls.empty());
    ASSERT_TRUE(manager->togglePlayback());
    const auto out = render(*manager->auEngine(), loops.data);
    EXPECT_TRUE(std::equal(out[0].begin(), out[0].end(), loops.decoded->channelData(0)));
    EXPECT_FALSE(manager->togglePlayback());
}

TEST_F(HostTest, ARefusingFactoryGivesItsErrorLinesAfterTheComponentsFlags) {
    for (const auto& [flags, text] : {std::pair<std::string, std::string>{"0", "0000000000"},
                                      {"2", "0x00000002"},
                                      {"3735928559", "0xdeadbeef"}}) {
        std::ofstream(registry.path() / "refusing.plist") << manifest(flags, "RefusingPrincipalClassFactory");
        listener->calls.clear();
        const auto lines =
            run([](const auto& l) { return contains(l, "Error: Could not instantiate audio unit."); });
        ASSERT_TRUE(found) << text;
        EXPECT_TRUE(contains(lines, std::string("flags: ") + text));
        const auto error = std::find(lines.begin(), lines.end(), "Error: Could not instantiate audio unit.");
        EXPECT_TRUE(std::prev(error)->starts_with("AudioComponentDescription(componentType: 1635085670, "));
        EXPECT_TRUE(listener->calls.empty());
    }
}

// However the search ends, a waiter hears of it once, on the main queue and
// after the delegate; one that comes after the end hears of it at once.
TEST_F(HostTest, WaitersHearOnceThatTheSearchHasEnded) {
    std::ofstream(registry.path() / "refusing.plist") << manifest("2", "RefusingPrincipalClassFactory");
    testkit::TempFolder none{"none"};
    struct Case {
        const char* name;
        std::string folder;
        std::vector<std::string> calls;
    };
    const std::vector<Case> cases{
        {"found", ORVO_TEST_COMPONENTS_DIR, {"found", "initialized", "ended", "ended late"}},
        {"none found", none.path().string(), {"ended", "ended late"}},
        {"not made", registry.path().string(), {"ended", "ended late"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testkit::ScopedEnvironment::set("ORVO_COMPONENT_PATH", c.folder);
        listener->calls.clear();
        bool onMain = true;
        const auto waiter = [&](const char* call) {
            return [&, call] {
                onMain = onMain && Thread::isMainThread();
                listener->calls.push_back(call);
            };
        };
        run([&](const auto&) { return contains(listener->calls, "ended"); },
            [&] { manager->whenSearchEnds(waiter("ended")); });
        EXPECT_TRUE(found);
        manager->whenSearchEnds(waiter("ended late"));
        DispatchQueue::main().drain();
        EXPECT_EQ(listener->calls, c.calls);
        EXPECT_TRUE(onMain);
    }
}

} // namespace
