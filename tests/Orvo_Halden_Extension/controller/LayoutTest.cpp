#include <gtest/gtest.h>

#include "Session.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UISlider.h"
#include "tests/support/Geometry.h"

using controller::Session;
using State = UIGestureRecognizerState;

namespace {

// A loaded editor whose root view is `size`, laid out once.
struct Editor : Session {
    explicit Editor(CGSize size = {680, 600}) {
        show();
        resize(size);
    }
    AudioUnitViewController& c() { return *controller; }
    void resize(CGSize size) {
        controller->view()->setFrame({0, 0, size.width, size.height});
        window->layoutIfNeeded();
    }
    CGRect plugin() const { return controller->pluginView->frame(); }
    // Moving and zooming allowed, the touch lock cleared.
    void unfreeze() {
        controller->onFreezeButton(*controller->freezeButton);
        controller->onTapGesture(*controller->tapGesture);
    }
    void pan(State state, CGPoint translation = {}) {
        controller->panGesture->setTranslation(translation, controller->view().get());
        controller->panGesture->setState(state);
        controller->onPanGesture(*controller->panGesture);
    }
    void pinch(State state, CGFloat scale = 1) {
        controller->pinchGesture->scale = scale;
        controller->pinchGesture->setState(state);
        controller->onPinchGesture(*controller->pinchGesture);
    }
    void longPress(State state) {
        controller->longPressGesture->setState(state);
        controller->onlongPressGesture(*controller->longPressGesture);
    }
};

void expectFrame(const CGRect& got, const CGRect& want) {
    EXPECT_NEAR(got.origin.x, want.origin.x, 1e-9) << got;
    EXPECT_NEAR(got.origin.y, want.origin.y, 1e-9) << got;
    EXPECT_NEAR(got.size.width, want.size.width, 1e-9) << got;
    EXPECT_NEAR(got.size.height, want.size.height, 1e-9) << got;
}

}  // namespace

TEST(PluginLayout, EveryLayoutPassFitsThePluginViewToTheRootView) {
    struct Case {
        CGSize root;
        bool fitToHeight;
        CGRect frame;
    };
    const CGFloat wide = 950.0 * 17 / 15;
    const Case cases[] = {
        {{680, 600}, true, {0, 0, 680, 600}},
        {{400, 800}, true, {0, 223.52941176470588, 400, 352.94117647058823}},
        {{400, 800}, false, {0, 223.52941176470588, 400, 352.94117647058823}},
        {{600, 600}, true, {0, 35.29411764705884, 600, 529.4117647058823}},
        {{1000, 500}, true, {216.66666666666669, 0, 566.6666666666666, 500}},
        {{1000, 500}, false, {0, -191.1764705882353, 1000, 882.3529411764706}},
        {{1000, 950}, true, {500 - wide / 2, 0, wide, 950}},
    };
    for (const Case& k : cases) {
        Editor e({100, 100});
        e.c().fitToHeight = k.fitToHeight;
        e.resize(k.root);
        SCOPED_TRACE(testing::Message() << k.root << " fitToHeight " << k.fitToHeight);
        expectFrame(e.plugin(), k.frame);
    }
}

TEST(PluginLayout, AfterLoadingTheEditorIsFrozenAndLockedWithTheFreezeButtonOpaque) {
    Editor e;
    EXPECT_TRUE(e.c().touchesLocked());
    EXPECT_FALSE(e.c().isSizeable());
    EXPECT_EQ(e.c().currentView(), e.c().pluginView);
    EXPECT_FALSE(e.c().pluginView->isHidden());
    EXPECT_EQ(e.c().freezeButton->alpha(), 1.0);
    // Frozen: neither pan nor pinch moves it, and the pinch leaves the lock.
    e.c().onTapGesture(*e.c().tapGesture);
    e.pan(State::began);
    e.pan(State::changed, {30, 30});
    e.pinch(State::began);
    e.pinch(State::changed, 2);
    EXPECT_EQ(e.plugin(), CGRect(0, 0, 680, 600));
    e.c().setTouchesLocked(true);
    e.pinch(State::changed, 2);
    EXPECT_TRUE(e.c().touchesLocked());
    // A double tap still fits it, and clears the lock.
    e.c().pluginView->setFrame({5, 5, 10, 10});
    e.c().onDoubleTapGesture(*e.c().doubleTapGesture);
    EXPECT_EQ(e.plugin(), CGRect(0, 0, 680, 600));
    EXPECT_FALSE(e.c().touchesLocked());
    // The freeze button's alpha says whether moving is allowed.
    e.c().onFreezeButton(*e.c().freezeButton);
    EXPECT_TRUE(e.c().isSizeable());
    EXPECT_EQ(e.c().freezeButton->alpha(), 0.5);
}

TEST(PluginLayout, APanMovesTheRecordedFrameUnboundedAndLayoutWaitsForItsEnd) {
    Editor e;
    e.unfreeze();
    e.c().pluginView->setFrame({10, 20, 680, 600});
    e.pan(State::began);
    e.pan(State::changed, {30, -5});
    EXPECT_EQ(e.plugin(), CGRect(40, 15, 680, 600));
    e.pan(State::changed, {-2000, 5000});
    EXPECT_EQ(e.plugin(), CGRect(-1990, 5020, 680, 600));
    e.resize({680, 601});  // a layout pass during the pan leaves it
    EXPECT_EQ(e.plugin(), CGRect(-1990, 5020, 680, 600));
    e.pan(State::ended, {-2000, 5000});
    e.resize({680, 600});
    EXPECT_EQ(e.plugin(), CGRect(0, 0, 680, 600));
}

TEST(PluginLayout, ALockedPanMovesNothingButAPinchZoomsAndClearsTheLock) {
    Editor e;
    e.unfreeze();
    e.c().setTouchesLocked(true);
    e.pan(State::began);
    e.pan(State::changed, {30, 30});
    EXPECT_EQ(e.plugin(), CGRect(0, 0, 680, 600));
    e.pinch(State::began);
    EXPECT_FALSE(e.c().touchesLocked());
    struct Step {
        CGFloat scale;
        CGRect frame;
    };
    const Step steps[] = {
        {2, {-340, -300, 1360, 1200}},
        {4, {-340, -300, 1360, 1200}},     // 2720 wide: the last accepted stays
        {0.15, {-340, -300, 1360, 1200}},  // 102 wide
        {128.0 / 680, {340 - 64, 300 - 600 * 64.0 / 680, 128, 600 * 128.0 / 680}},
        {2048.0 / 680, {340 - 1024, 300 - 600 * 1024.0 / 680, 2048, 600 * 2048.0 / 680}},
    };
    for (const Step& s : steps) {
        e.pinch(State::changed, s.scale);
        expectFrame(e.plugin(), s.frame);
    }
}

TEST(PluginLayout, APanRefusedAtItsBeginningAppliesNoStaleFrameWhenTheLockGoes) {
    Editor e;
    e.unfreeze();
    // An earlier pan left a recorded frame behind.
    e.pan(State::began);
    e.pan(State::changed, {100, 100});
    e.pan(State::ended, {100, 100});
    e.c().onDoubleTapGesture(*e.c().doubleTapGesture);
    ASSERT_EQ(e.plugin(), CGRect(0, 0, 680, 600));
    // This one begins on a held control, which lets go mid-gesture.
    e.c().setTouchesLocked(true);
    e.pan(State::began);
    e.c().setTouchesLocked(false);
    e.pan(State::changed, {5, 5});
    e.pan(State::ended, {5, 5});
    EXPECT_EQ(e.plugin(), CGRect(0, 0, 680, 600));
    // The same for a pinch begun while frozen.
    e.c().onFreezeButton(*e.c().freezeButton);
    e.pinch(State::began);
    e.c().onFreezeButton(*e.c().freezeButton);
    e.pinch(State::changed, 1.5);
    EXPECT_EQ(e.plugin(), CGRect(0, 0, 680, 600));
}

TEST(PluginLayout, ALockSetDuringAPanKeepsLayoutAwayUntilALaterGestureEnds) {
    Editor e;
    e.unfreeze();
    e.pan(State::began);
    e.pan(State::changed, {50, 0});
    e.c().setTouchesLocked(true);
    e.pan(State::ended, {50, 0});
    e.resize({680, 601});
    EXPECT_EQ(e.plugin().origin.x, 50);  // by design: the layout lock stays
    e.c().setTouchesLocked(false);
    e.pinch(State::began);
    e.pinch(State::ended);
    e.resize({680, 600});
    EXPECT_EQ(e.plugin(), CGRect(0, 0, 680, 600));
}

TEST(PluginLayout, ALongPressShowsAndHidesTheButtonsAndSetsTheLock) {
    Editor e;
    e.c().onTapGesture(*e.c().tapGesture);
    ASSERT_TRUE(e.c().contrastButton->isHidden());
    e.c().brightnessSlider->setHidden(false);
    e.longPress(State::began);
    EXPECT_FALSE(e.c().contrastButton->isHidden());
    EXPECT_FALSE(e.c().freezeButton->isHidden());
    EXPECT_FALSE(e.c().brightnessSlider->isHidden());  // kept as it was
    EXPECT_TRUE(e.c().touchesLocked());
    e.longPress(State::changed);
    EXPECT_TRUE(e.c().touchesLocked());
    e.longPress(State::ended);
    EXPECT_FALSE(e.c().touchesLocked());
    EXPECT_EQ(e.c().contrastButton->alpha(), 1.0);
    e.longPress(State::began);
    EXPECT_TRUE(e.c().contrastButton->isHidden());
    EXPECT_TRUE(e.c().freezeButton->isHidden());
    EXPECT_TRUE(e.c().brightnessSlider->isHidden());
    EXPECT_FALSE(e.c().touchesLocked());
}

TEST(PluginLayout, TheMoveAndZoomOperationsHaveTheirOwnLimits) {
    Editor e;
    UIView target({0, 0, 680, 600});
    e.c().doTranslationTransform(target, {10, 20, 680, 600}, {30, -5});
    EXPECT_EQ(target.frame(), CGRect(40, 15, 680, 600));
    e.c().doScalingTransform(target, {0, 0, 680, 600}, 200.0 / 680);  // 200 wide: below 256
    EXPECT_EQ(target.frame(), CGRect(40, 15, 680, 600));
    e.c().doScalingTransform(target, {0, 0, 680, 600}, 0.5);
    EXPECT_EQ(target.frame(), CGRect(170, 150, 340, 300));
}
