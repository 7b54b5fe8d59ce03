#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "Orvo_Halden_Extension/AudioUnitViewController.h"
#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"
#include "kernel/ParameterAddress.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/ui/UIWindow.h"
#include "tests/support/TempFolder.h"

namespace controller {

using Unit = Orvo_Halden_Extension_AudioUnit;

// A plain 0...1 value the editor mirrors.
constexpr NSInteger kSizeBP = kReverbSize2;

// An editor as a host opens it: a controller on a virtual clock with a
// private documents folder; its view goes into a window on request.
class Session {
public:
    Session() : controller(AudioUnitViewController::make()) {
        testkit::ScopedEnvironment::set("ORVO_DOCUMENTS_DIR", documents.path().string());
    }
    // Hand-overs still queued hold the controller: run them once it is let go.
    ~Session() {
        controller.reset();
        drain();
    }

    std::shared_ptr<Unit> createUnit() {
        return std::static_pointer_cast<Unit>(controller->createAudioUnit(Unit::kComponentDescription));
    }
    // Loads the view into a window.
    void show() { window->addSubview(controller->view()); }
    std::size_t drain() { return DispatchQueue::main().drain(); }
    OrvoHaldenViewBase& model() { return controller->mainView->baseClass(); }

    testkit::ScopedEnvironment environment{"ORVO_DOCUMENTS_DIR"};
    testkit::TempFolder documents{"orvo-controller"};
    VirtualClock clock;
    std::shared_ptr<UIWindow> window = std::make_shared<UIWindow>(CGRect(0, 0, 680, 600));
    std::shared_ptr<AudioUnitViewController> controller;
};

inline std::size_t countOf(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

// The lines, in their order, each found after the one before it.
inline ::testing::AssertionResult inOrder(const std::vector<std::string>& lines,
                                          const std::vector<std::string>& expected) {
    auto at = lines.begin();
    for (const auto& line : expected) {
        at = std::find(at, lines.end(), line);
        if (at == lines.end())
            return ::testing::AssertionFailure() << "missing, or out of order: \"" << line << "\"";
        ++at;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace controller
