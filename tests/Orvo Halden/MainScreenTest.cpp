#include <algorithm>

#include "Orvo Halden/HelpViewController.h"
#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"
#include "platform/ui/AUViewController.h"
#include "tests/Orvo Halden/MainScreenFixture.h"

namespace {

using apptest::MainScreen;

// `expected` appears in `lines` in this order (other lines between).
::testing::AssertionResult inOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected) {
    auto at = lines.begin();
    for (const std::string& line : expected) {
        at = std::find(at, lines.end(), line);
        if (at == lines.end())
            return ::testing::AssertionFailure() << "missing, or out of order: \"" << line << "\"";
        ++at;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST_F(MainScreen, StartsInTheLoggedOrderAndKeepsTheEmbeddedEditorHiddenUntilUnitIsPressed) {
    testkit::StdoutCapture capture;
    start();
    const bool editor = waitForEditor();
    const std::vector<std::string> lines = testkit::splitLines(capture.finish());
    ASSERT_TRUE(editor) << "the editor never arrived";
    // The search runs on another thread from the note on: its lines and the
    // screen's own last two may come in either order.
    EXPECT_TRUE(inOrder(lines, {"Info: Main view controller loaded.",
                                "NOTE: WE ARE IN AUDIO UNIT RELEASE MODE. ENSURE THE STORYBOARD CONNECTIONS ARE VALID!",
                                "ViewController: The app's documents path is: " + documents.path().string(),
                                std::string("ViewController: The app's resources path is: ") + ORVO_TEST_RESOURCES}));
    EXPECT_TRUE(inOrder(lines, {"NOTE: WE ARE IN AUDIO UNIT RELEASE MODE. ENSURE THE STORYBOARD CONNECTIONS ARE VALID!",
                                "AUExtensionManager: Loaded component has following properties.",
                                "AUExtensionManager: Audio unit was found, making connections now ...",
                                "AUExtensionManager: Performed audio unit connection.",
                                "ViewController: Loading the audio unit's interface..."}));
    EXPECT_FALSE(screen->playButton->isHidden());
    EXPECT_TRUE(screen->stopButton->isHidden());
    EXPECT_TRUE(screen->pluginView->isHidden());
    ASSERT_EQ(screen->children().size(), 1u);
    EXPECT_TRUE(std::dynamic_pointer_cast<AUViewController>(screen->children()[0]));
    EXPECT_EQ(screen->children()[0]->parent(), screen.get());

    screen->buttonUnit->sendActions(UIControlEvent::touchUpInside);
    EXPECT_FALSE(screen->pluginView->isHidden());
    screen->onButtonUnit(screen);
    EXPECT_TRUE(screen->pluginView->isHidden());
}

TEST_F(MainScreen, PlayAndStopBothToggleThePlayerAndTheButtonsFollowItsReports) {
    start();
    screen->playButton->sendActions(UIControlEvent::touchUpInside);
    EXPECT_TRUE(screen->audioUnitManager()->auEngine()->isPlaying());
    DispatchQueue::main().drain();
    EXPECT_TRUE(screen->playButton->isHidden());
    EXPECT_FALSE(screen->stopButton->isHidden());
    screen->stopButton->sendActions(UIControlEvent::touchUpInside);
    EXPECT_FALSE(screen->audioUnitManager()->auEngine()->isPlaying());
    DispatchQueue::main().drain();
    EXPECT_FALSE(screen->playButton->isHidden());
    EXPECT_TRUE(screen->stopButton->isHidden());
    // Either button toggles.
    screen->onStopButton(screen);
    EXPECT_TRUE(screen->audioUnitManager()->auEngine()->isPlaying());
    screen->onPlayButton(screen);
    EXPECT_FALSE(screen->audioUnitManager()->auEngine()->isPlaying());
}

TEST_F(MainScreen, HelpOpensThePageAndTheManualAndEverySegueHandsItsNameOn) {
    start();
    testkit::StdoutCapture capture;
    screen->buttonHelp->sendActions(UIControlEvent::touchUpInside);
    auto help = std::dynamic_pointer_cast<HelpViewController>(screen->presentedViewController());
    ASSERT_TRUE(help);
    EXPECT_EQ(help->identifier(), "ShowHelp");
    EXPECT_EQ(opened.urls, std::vector<std::string>{HelpViewController::makerPageURL()->absoluteString()});
    EXPECT_TRUE(help->webView()->isShowingPDF());
    help->onButtonExit(help);

    screen->buttonInfo->sendActions(UIControlEvent::touchUpInside);
    help = std::dynamic_pointer_cast<HelpViewController>(screen->presentedViewController());
    ASSERT_TRUE(help);
    EXPECT_EQ(help->identifier(), "ShowInfo");
    help->onButtonExit(help);

    auto other = std::make_shared<UIViewController>();
    UIStoryboardSegue unnamed(std::nullopt, screen.get(), other), named("ShowOther", screen.get(), other),
        mistaken("ShowHelp", screen.get(), other);
    screen->prepare(unnamed, {});
    screen->prepare(named, {});
    screen->prepare(mistaken, {});
    const std::vector<std::string> lines = testkit::splitLines(capture.finish());
    EXPECT_TRUE(inOrder(lines, {"ShowHelp", "ShowInfo", "ShowOther", "ShowHelp",
                                "ERROR: The destination of \"ShowHelp\" is not the help screen."}));
}

TEST_F(MainScreen, WhatCannotBeEmbeddedIsLoggedAndTheScreenGoesOn) {
    testkit::ScopedEnvironment::set("ORVO_COMPONENT_PATH", documents.path().string());  // no plug-in there
    start();
    testkit::StdoutCapture capture;
    screen->embedPlugInView();
    screen->resetPluginView(760, 720);
    screen->onFoundComponent(nullptr);
    const AudioComponentDescription description = AUExtensionManager::kComponentDescription;
    // A unit made here, by no module: it has no editor to give.
    screen->onFoundComponent(std::make_shared<AVAudioUnit>(Orvo_Halden_Extension_AudioUnit::make(description)));
    DispatchQueue::main().drain();
    // The screen is gone before the answer comes.
    screen->onFoundComponent(std::make_shared<AVAudioUnit>(Orvo_Halden_Extension_AudioUnit::make(description)));
    window->setRootViewController(nullptr);
    screen.reset();
    DispatchQueue::main().drain();
    const std::vector<std::string> lines = testkit::splitLines(capture.finish());
    EXPECT_TRUE(inOrder(lines, {"ERROR: Could not load audio unit's view controller.",
                                "WARNING: Cannot reset the pluginview (yet).",
                                "ViewController: Loading the audio unit's interface...",
                                "ERROR: The audio unit is not initialized to load the user interface.",
                                "ViewController: Loading the audio unit's interface...",
                                "ERROR: Something is wrong with the view controller and view of the audio unit.",
                                "ViewController: Loading the audio unit's interface...", "ERROR: Self is nil !?"}));
}
