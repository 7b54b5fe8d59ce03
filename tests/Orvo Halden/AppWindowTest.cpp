#include <SDL2/SDL.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <map>

#include "Orvo_Halden_Extension/AudioUnitViewController.h"
#include "Orvo_Halden_Extension/OrvoHaldenView.h"
#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"
#include "platform/app/DesktopWindow.h"
#include "platform/audio/AUParameterTree.h"
#include "tests/Orvo Halden/MainScreenFixture.h"
#include "tests/support/Patience.h"
#include "tests/support/TestDisplay.h"

namespace {

class AppWindow : public apptest::MainScreen {
protected:
    void push(SDL_Event event) {
        event.button.windowID = desktop->windowID();
        SDL_PushEvent(&event);
        desktop->runOnce();
    }
    void mouse(Uint32 type, CGPoint at) {
        SDL_Event e{};
        e.type = type;
        if (type == SDL_MOUSEMOTION) {
            e.motion.x = int(std::lround(at.x));
            e.motion.y = int(std::lround(at.y));
            e.motion.state = SDL_BUTTON_LMASK;
        } else {
            e.button.button = SDL_BUTTON_LEFT;
            e.button.x = int(std::lround(at.x));
            e.button.y = int(std::lround(at.y));
        }
        push(e);
    }
    void click(const UIView& view) {
        const CGPoint at = view.convert({view.bounds().width() / 2, view.bounds().height() / 2}, nullptr);
        mouse(SDL_MOUSEBUTTONDOWN, at);
        mouse(SDL_MOUSEBUTTONUP, at);
    }
    // Runs the window's loop until `done` holds or the cap has passed.
    bool runUntil(const std::function<bool()>& done) {
        const auto cap = std::chrono::steady_clock::now() + testkit::kPatience;
        while (!done() && std::chrono::steady_clock::now() < cap)
            desktop->runOnce(0.01);
        return done();
    }

    const testkit::TestDisplay& display = testkit::TestDisplay::shared();
    std::unique_ptr<DesktopWindow> desktop;
};

std::map<AUParameterAddress, AUValue> values(AUParameterTree& tree) {
    std::map<AUParameterAddress, AUValue> all;
    for (const auto& parameter : tree.allParameters())
        all[parameter->address()] = parameter->value();
    return all;
}

}  // namespace

TEST_F(AppWindow, UnitShowsTheEditorAMouseDragOnAKnobChangesTheUnitAndTheWindowCloses) {
    if (!display.available())
        GTEST_SKIP() << display.reason();
    start();
    desktop = DesktopWindow::open("Orvo Halden", window);
    ASSERT_TRUE(desktop);
    ASSERT_TRUE(runUntil([&] { return embedded(); }));
    EXPECT_TRUE(screen->pluginView->isHidden());

    click(*screen->buttonUnit);
    EXPECT_FALSE(screen->pluginView->isHidden());
    auto editor = std::dynamic_pointer_cast<AudioUnitViewController>(screen->children().at(0));
    ASSERT_TRUE(editor && editor->audioUnit());
    const std::shared_ptr<OrvoHaldenView> knobs = editor->mainView;
    // The size knob's middle, in design points, as the canvas fits the view:
    // there once the editor has been drawn and knows its scale and hotspots.
    const CGPoint design{140, 466};
    ASSERT_TRUE(runUntil([&] {
        const auto& hotspot = knobs->baseClass().hotspotSizePath;
        return hotspot && hotspot->contains(design);
    }));
    const CGFloat scale = std::min(knobs->bounds().width() / 680, knobs->bounds().height() / 600);
    const CGPoint at = knobs->convert({design.x * scale, design.y * scale}, nullptr);

    auto tree = editor->audioUnit()->parameterTree();
    const auto before = values(*tree);
    mouse(SDL_MOUSEBUTTONDOWN, at);
    for (int step = 1; step <= 10; ++step)
        mouse(SDL_MOUSEMOTION, {at.x, at.y - 8 * step});
    mouse(SDL_MOUSEBUTTONUP, {at.x, at.y - 80});
    const auto after = values(*tree);
    int changed = 0;
    for (AUParameterAddress size = 26; size <= 29; ++size)
        changed += after.at(size) > before.at(size);
    EXPECT_EQ(changed, 1) << "the size of the band being edited went up";

    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
    const auto cap = std::chrono::steady_clock::now() + testkit::kPatience;
    bool open = true;
    while (open && std::chrono::steady_clock::now() < cap)
        open = desktop->runOnce(0.01);
    EXPECT_FALSE(open);
    desktop.reset();
}
