#include <gtest/gtest.h>

#include "Session.h"
#include "platform/ui/UIButton.h"
#include "tests/support/Geometry.h"

using controller::Session;

namespace {

// A loaded editor filling its 680 by 600 window, moving and zooming allowed.
// Nothing has drawn the canvas, so no control lies under a finger.
struct Editor : Session {
    Editor() {
        show();
        controller->view()->setFrame(window->bounds());
        window->layoutIfNeeded();
        controller->onFreezeButton(*controller->freezeButton);
    }
    CGRect plugin() const { return controller->pluginView->frame(); }
    void tap(CGPoint p) { window->touchUp(window->touchDown(p)); }
};

}  // namespace

TEST(GesturesByTouch, ADragPansThePluginViewAndTheEditorSeesTheTouch) {
    Editor e;
    ASSERT_TRUE(e.controller->touchesLocked());
    auto finger = e.window->touchDown({300, 300});
    EXPECT_FALSE(e.controller->touchesLocked());  // the editor view let go of the lock
    e.window->touchMove(finger, {320, 310});
    e.window->touchMove(finger, {400, 350});
    e.window->touchUp(finger, {400, 350});
    EXPECT_EQ(e.plugin(), CGRect(100, 50, 680, 600));
    e.clock.advance(1);
    EXPECT_EQ(e.plugin(), CGRect(100, 50, 680, 600));  // no tap came of it
}

TEST(GesturesByTouch, APinchZoomsWithinItsLimitsAndADoubleTapFitsAgain) {
    Editor e;
    auto fingers = e.window->touchesDown({{290, 300}, {390, 300}});
    e.window->touchesMove({{fingers[0], {288, 300}}, {fingers[1], {392, 300}}});  // begins
    e.window->touchesMove({{fingers[0], {240, 300}}, {fingers[1], {440, 300}}});
    EXPECT_EQ(e.plugin(), CGRect(-340, -300, 1360, 1200));
    e.window->touchesMove({{fingers[0], {0, 300}}, {fingers[1], {680, 300}}});  // 6.8 times: too wide
    EXPECT_EQ(e.plugin(), CGRect(-340, -300, 1360, 1200));
    e.window->touchesUp({{fingers[0], {0, 300}}, {fingers[1], {680, 300}}});
    e.tap({100, 100});
    e.clock.advance(0.1);
    e.tap({102, 100});
    EXPECT_EQ(e.plugin(), CGRect(0, 0, 680, 600));
}

TEST(GesturesByTouch, ALongPressShowsTheButtonsAndLocksUntilItEnds) {
    Editor e;
    auto finger = e.window->touchDown({200, 400});
    e.clock.advance(0.6);
    EXPECT_FALSE(e.controller->contrastButton->isHidden());
    EXPECT_TRUE(e.controller->touchesLocked());
    e.window->touchUp(finger);
    EXPECT_FALSE(e.controller->touchesLocked());
    EXPECT_EQ(e.controller->contrastButton->alpha(), 1.0);
    e.clock.advance(1);
    EXPECT_FALSE(e.controller->contrastButton->isHidden());
}
