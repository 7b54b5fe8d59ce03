#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/app/DesktopWindow.h"
#include "platform/graphics/ImageSurface.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UIWindow.h"
#include "tests/support/Geometry.h"
#include "tests/support/Patience.h"
#include "tests/support/TestDisplay.h"

namespace {

// A red board in a 320 by 240 window with a pan, a pinch and a long press on it.
struct Desk {
    const testkit::TestDisplay& display = testkit::TestDisplay::shared();
    std::shared_ptr<UIWindow> window = std::make_shared<UIWindow>(CGRect(0, 0, 320, 240));
    std::shared_ptr<UIView> board = std::make_shared<UIView>(CGRect(0, 0, 160, 240));
    std::shared_ptr<UIPanGestureRecognizer> pan = std::make_shared<UIPanGestureRecognizer>();
    std::shared_ptr<UIPinchGestureRecognizer> pinch = std::make_shared<UIPinchGestureRecognizer>();
    std::shared_ptr<UILongPressGestureRecognizer> press = std::make_shared<UILongPressGestureRecognizer>();
    std::unique_ptr<DesktopWindow> desktop;
    std::vector<std::string> log;
    CGPoint lastTranslation;
    CGFloat lastScale = 1;

    Desk() {
        board->setBackgroundColor(UIColor{1, 0, 0, 1});
        window->addSubview(board);
        for (const auto& [r, name] : {std::pair<std::shared_ptr<UIGestureRecognizer>, std::string>{pan, "pan"},
                                      {pinch, "pinch"},
                                      {press, "press"}}) {
            board->addGestureRecognizer(r);
            r->addTarget([this, name = name](UIGestureRecognizer& g) {
                log.push_back(name + " " + std::to_string(int(g.state())));
                lastTranslation = pan->translationInView(nullptr);
                lastScale = pinch->scale;
            });
        }
        if (display.available())
            desktop = DesktopWindow::open("test", window);
    }

    void push(SDL_Event event) {
        event.button.windowID = desktop->windowID();
        SDL_PushEvent(&event);
        desktop->runOnce();
    }
    void mouse(Uint32 type, int x, int y) {
        SDL_Event e{};
        e.type = type;
        if (type == SDL_MOUSEMOTION) {
            e.motion.x = x;
            e.motion.y = y;
            e.motion.state = SDL_BUTTON_LMASK;
        } else {
            e.button.button = SDL_BUTTON_LEFT;
            e.button.x = x;
            e.button.y = y;
        }
        push(e);
    }
    // Runs the loop until the log holds `entry` (a recogniser's clock may
    // have to run out first) or the cap has passed.
    bool runUntilLogged(const std::string& entry) {
        const auto cap = std::chrono::steady_clock::now() + testkit::kPatience;
        const auto logged = [&] { return std::find(log.begin(), log.end(), entry) != log.end(); };
        while (!logged() && std::chrono::steady_clock::now() < cap)
            desktop->runOnce(0.01);
        return logged();
    }
};

#define REQUIRE_DESKTOP(d)                                            \
    if (!(d).display.available())                                     \
        GTEST_SKIP() << (d).display.reason();                         \
    ASSERT_TRUE((d).desktop) << "a display is there, yet no window opened"

}  // namespace

TEST(DesktopWindow, ShowsTheTreeAndTurnsALeftDragIntoAPan) {
    Desk d;
    REQUIRE_DESKTOP(d);
    d.desktop->runOnce();
    EXPECT_EQ(d.desktop->picture().pixelAt({40, 100}), (ImageSurface::Pixel{255, 0, 0, 255}));
    EXPECT_EQ(d.desktop->picture().pixelAt({250, 100}), (ImageSurface::Pixel{255, 255, 255, 255}));
    d.mouse(SDL_MOUSEBUTTONDOWN, 50, 50);
    d.mouse(SDL_MOUSEMOTION, 80, 60);
    d.mouse(SDL_MOUSEMOTION, 90, 70);
    d.mouse(SDL_MOUSEBUTTONUP, 90, 70);
    EXPECT_EQ(d.log, (std::vector<std::string>{"pan 1", "pan 2", "pan 3"}));
    EXPECT_EQ(d.lastTranslation, (CGPoint{40, 20}));
    // A view that moves is shown where it now is, without asking to be drawn.
    d.board->setFrame({160, 0, 160, 240});
    d.desktop->runOnce();
    EXPECT_EQ(d.desktop->picture().pixelAt({250, 100}), (ImageSurface::Pixel{255, 0, 0, 255}));
}

TEST(DesktopWindow, TheWheelPinchesAboutThePointerAndAHeldButtonIsALongPress) {
    Desk d;
    REQUIRE_DESKTOP(d);
    SDL_Event wheel{};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.y = 3;
    wheel.wheel.mouseX = 80;
    wheel.wheel.mouseY = 120;
    wheel.wheel.windowID = d.desktop->windowID();
    SDL_PushEvent(&wheel);
    EXPECT_TRUE(d.runUntilLogged("pinch 3")); // the wheel has rested: its fingers lift
    EXPECT_EQ(d.log, (std::vector<std::string>{"pinch 1", "pinch 3"}));
    EXPECT_NEAR(d.lastScale, 1.1 * 1.1 * 1.1, 1e-9);

    d.log.clear();
    d.mouse(SDL_MOUSEBUTTONDOWN, 60, 60);
    EXPECT_TRUE(d.runUntilLogged("press 1")); // held long enough
    d.mouse(SDL_MOUSEBUTTONUP, 60, 60);
    EXPECT_EQ(d.log, (std::vector<std::string>{"press 1", "press 3"}));
}

TEST(DesktopWindow, AResizeSetsTheWindowBoundsAndRunsALayoutPass) {
    Desk d;
    REQUIRE_DESKTOP(d);
    auto pinned = std::make_shared<UIView>();
    d.window->addSubview(pinned);
    NSLayoutConstraint::pinEdges(*pinned, *d.window);
    SDL_Event resize{};
    resize.type = SDL_WINDOWEVENT;
    resize.window.event = SDL_WINDOWEVENT_SIZE_CHANGED;
    resize.window.data1 = 500;
    resize.window.data2 = 300;
    d.push(resize);
    EXPECT_EQ(d.window->bounds(), CGRect(0, 0, 500, 300));
    EXPECT_EQ(pinned->frame(), CGRect(0, 0, 500, 300));
    EXPECT_EQ(d.desktop->picture().pixelWidth(), 500);
}
