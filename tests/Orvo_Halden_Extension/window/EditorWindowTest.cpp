#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "Orvo_Halden_Extension/AudioUnitViewController.h"
#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"
#include "kernel/ParameterAddress.h"
#include "platform/app/DesktopWindow.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/graphics/ImageSurface.h"
#include "platform/ui/UIWindow.h"
#include "tests/support/PixelProbe.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestDisplay.h"

namespace {

using Unit = Orvo_Halden_Extension_AudioUnit;

// The middle of a hotspot, in design points (the canvas is drawn at scale 1 here).
CGPoint middleOf(const UIBezierPath& path) {
    CGFloat minX = 1e9, minY = 1e9, maxX = -1e9, maxY = -1e9;
    for (const auto& polygon : path.flattened())
        for (const CGPoint& p : polygon) {
            minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
            minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
        }
    return {(minX + maxX) / 2, (minY + maxY) / 2};
}

class EditorWindow : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testkit::TestDisplay::shared().available())
            GTEST_SKIP() << testkit::TestDisplay::shared().reason();
        testkit::ScopedEnvironment::set("ORVO_DOCUMENTS_DIR", documents.path().string());
        unit = std::static_pointer_cast<Unit>(controller->createAudioUnit(Unit::kComponentDescription));
        window->setRootViewController(controller);
        desktop = DesktopWindow::open("editor", window);
        ASSERT_TRUE(desktop) << "a display is there, yet no window opened";
        runFor(0.2);  // the hand-over, the first layout and the first drawing
    }
    void TearDown() override {
        desktop.reset();
        window.reset();
        controller.reset();
        DispatchQueue::main().drain();
    }
    // Passes until `seconds` have gone by, and one that starts after that
    // however long each pass takes: what was due by then has happened.
    void runFor(double seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end)
            desktop->runOnce(0.01);
        desktop->runOnce(0);
    }
    void wheel(CGPoint p, int notches) {
        SDL_Event e{};
        e.type = SDL_MOUSEWHEEL;
        e.wheel.windowID = desktop->windowID();
        e.wheel.y = notches;
        e.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
        e.wheel.mouseX = int(p.x), e.wheel.mouseY = int(p.y);
        SDL_PushEvent(&e);
        desktop->runOnce();
    }
    std::vector<float> values() const {
        std::vector<float> all;
        for (const auto& parameter : unit->parameterTree()->allParameters())
            all.push_back(parameter->value());
        return all;
    }
    void mouse(Uint32 type, CGPoint p) {
        SDL_Event e{};
        e.type = type;
        if (type == SDL_MOUSEMOTION) {
            e.motion.windowID = desktop->windowID();
            e.motion.x = int(p.x), e.motion.y = int(p.y);
            e.motion.state = SDL_BUTTON_LMASK;
        } else {
            e.button.windowID = desktop->windowID();
            e.button.button = SDL_BUTTON_LEFT;
            e.button.x = int(p.x), e.button.y = int(p.y);
        }
        SDL_PushEvent(&e);
        desktop->runOnce();
    }

    testkit::ScopedEnvironment environment{"ORVO_DOCUMENTS_DIR"};
    testkit::TempFolder documents{"orvo-window"};
    std::shared_ptr<AudioUnitViewController> controller = AudioUnitViewController::make();
    std::shared_ptr<Unit> unit;
    std::shared_ptr<UIWindow> window = std::make_shared<UIWindow>(CGRect(0, 0, 680, 600));
    std::unique_ptr<DesktopWindow> desktop;
};

}  // namespace

TEST_F(EditorWindow, ShowsTheEditorAndAMouseDragOnAKnobChangesTheUnit) {
    // What the window shows is the editor as a display pass draws it.
    ImageSurface expected({680, 600});
    expected.fill(UIColor::white());
    expected.draw([&](CGContext& c) { window->render(c); });
    EXPECT_LT(testkit::differingPixels(desktop->picture(), expected), 680 * 600 / 100);
    int dark = 0;
    for (int y = 0; y < 600; y += 10)
        for (int x = 0; x < 680; x += 10)
            dark += desktop->picture().pixel(x, y).red < 128;
    EXPECT_GT(dark, 68 * 60 / 4) << "the editor's dark plate is not on screen";

    const auto size = unit->parameterTree()->parameterWithAddress(kReverbSize2);
    const float before = size->value();
    const CGPoint knob = middleOf(*controller->mainView->baseClass().hotspotSizePath);
    mouse(SDL_MOUSEBUTTONDOWN, knob);
    for (int dy = 10; dy <= 80; dy += 10)
        mouse(SDL_MOUSEMOTION, {knob.x, knob.y - dy});
    mouse(SDL_MOUSEBUTTONUP, {knob.x, knob.y - 80});
    runFor(0.1);
    EXPECT_NE(size->value(), before);
    EXPECT_EQ(controller->pluginView->frame(), CGRect(0, 0, 680, 600));  // a held control is no pan
}

// The wheel and a Ctrl drag zoom the editor once it is unfrozen, and never
// press what lies under the pointer: six notches over the knobs leave every
// parameter as it was.
TEST_F(EditorWindow, TheWheelAndAModifierDragZoomWithoutTouchingTheControlsUnderThem) {
    enum class Input { wheel, ctrlDrag };
    struct Case {
        const char* what;
        Input input;
        bool frozen;
    };
    const Case cases[] = {
        {"wheel, frozen", Input::wheel, true},
        {"wheel", Input::wheel, false},
        {"ctrl drag", Input::ctrlDrag, false},
    };
    // The pointer to the right of the size knob: a finger put down 60 points
    // to its left would land on the knob.
    const CGPoint size = middleOf(*controller->mainView->baseClass().hotspotSizePath);
    const CGPoint pointer{size.x + 60, size.y};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        if (controller->isSizeable() == k.frozen)
            controller->onFreezeButton(*controller->freezeButton);
        controller->onDoubleTapGesture(*controller->doubleTapGesture);  // fitted again
        runFor(0.05);
        const std::vector<float> before = values();
        const CGFloat width = controller->pluginView->frame().width();
        if (k.input == Input::wheel) {
            for (int notch = 0; notch < 6; ++notch)
                wheel(pointer, 1);
        } else {
            SDL_SetModState(KMOD_LCTRL);
            mouse(SDL_MOUSEBUTTONDOWN, pointer);
            for (int dy = 10; dy <= 60; dy += 10)
                mouse(SDL_MOUSEMOTION, {pointer.x, pointer.y - dy});
            mouse(SDL_MOUSEBUTTONUP, {pointer.x, pointer.y - 60});
            SDL_SetModState(KMOD_NONE);
        }
        runFor(DesktopWindow::wheelRest + 0.1);  // the wheel's fingers lift
        EXPECT_EQ(values(), before);
        EXPECT_TRUE(controller->mainView->hotspotMode().empty());
        if (k.frozen)
            EXPECT_EQ(controller->pluginView->frame().width(), width);
        else
            EXPECT_GT(controller->pluginView->frame().width(), width * 1.3);
        EXPECT_EQ(controller->mainView->bounds().width(), controller->pluginView->bounds().width());
    }
}
