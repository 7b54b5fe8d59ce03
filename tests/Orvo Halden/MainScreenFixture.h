#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Orvo Halden/ViewController.h"
#include "platform/audio/AVAudioEngine.h"
#include "platform/ui/UIWindow.h"
#include "tests/Orvo Halden/AppTestSupport.h"
#include "tests/support/OpenedURLs.h"

namespace apptest {

// The main screen in a window of the storyboard's size, with the real host
// finding the real plug-in module, the built loops and documents, and a
// documents folder of its own. URLs are recorded, not opened.
class MainScreen : public ::testing::Test {
protected:
    MainScreen() {
        testkit::ScopedEnvironment::set("ORVO_RESOURCES_DIR", ORVO_TEST_RESOURCES);
        testkit::ScopedEnvironment::set("ORVO_COMPONENT_PATH", ORVO_MODULE_DIR);
        testkit::ScopedEnvironment::set("ORVO_DOCUMENTS_DIR", documents.path().string());
    }
    ~MainScreen() override {
        AVAudioEngine::stopAll();
        window->setRootViewController(nullptr);
        screen.reset();
        DispatchQueue::main().drain();
    }

    // Loads the screen (and with it the host); `offlinePlayer` keeps the
    // player's engine off the sound card.
    void start(bool offlinePlayer = true) {
        screen = std::make_shared<ViewController>();
        window->setRootViewController(screen);
        if (offlinePlayer)
            offline(*screen->audioUnitManager()->auEngine());
    }
    bool embedded() const { return !screen->pluginView->subviews().empty(); }
    bool waitForEditor() {
        return testkit::drainMainQueueUntil([this] { return embedded(); });
    }

    testkit::ScopedEnvironment environment{"ORVO_RESOURCES_DIR", "ORVO_COMPONENT_PATH", "ORVO_DOCUMENTS_DIR"};
    testkit::TempFolder documents{"documents"};
    testkit::OpenedURLs opened;
    std::shared_ptr<UIWindow> window = std::make_shared<UIWindow>(CGRect(0, 0, 760, 720));
    std::shared_ptr<ViewController> screen;
};

}  // namespace apptest
