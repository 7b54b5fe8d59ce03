#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/UIControl.h"
#include "platform/ui/UIWindow.h"
#include "tests/support/ControlEvents.h"

namespace {

// Records each callback as "<phase> <touch count> (<x>,<y> of the first touch in itself)".
class TouchRecorder : public UIControl {
public:
    using UIControl::UIControl;
    std::vector<std::string> calls;
    bool forward = false;  // hand the touches on up the responder chain as well

    void touchesBegan(const UITouchSet& t, const UIEvent* e) override {
        if (note("began", t))
            UIControl::touchesBegan(t, e);
    }
    void touchesMoved(const UITouchSet& t, const UIEvent* e) override {
        if (note("moved", t))
            UIControl::touchesMoved(t, e);
    }
    void touchesEnded(const UITouchSet& t, const UIEvent* e) override {
        if (note("ended", t))
            UIControl::touchesEnded(t, e);
    }
    void touchesCancelled(const UITouchSet& t, const UIEvent* e) override {
        if (note("cancelled", t))
            UIControl::touchesCancelled(t, e);
    }

private:
    bool note(const char* phase, const UITouchSet& touches) {
        const CGPoint p = touches.first()->location(this);
        calls.push_back(std::string(phase) + " " + std::to_string(touches.size()) + " (" +
                        std::to_string(static_cast<int>(p.x)) + "," + std::to_string(static_cast<int>(p.y)) + ")");
        return forward;
    }
};

struct Screen {
    std::shared_ptr<UIWindow> window = std::make_shared<UIWindow>(CGRect(0, 0, 400, 300));
    std::shared_ptr<TouchRecorder> outer = std::make_shared<TouchRecorder>(CGRect(0, 0, 400, 300));
    std::shared_ptr<TouchRecorder> left = std::make_shared<TouchRecorder>(CGRect(0, 0, 200, 300));
    std::shared_ptr<TouchRecorder> right = std::make_shared<TouchRecorder>(CGRect(200, 0, 100, 100));

    Screen() {
        window->addSubview(outer);
        outer->addSubview(left);
        outer->addSubview(right);
        right->setTransform(CGAffineTransform::makeScale(0.5, 0.5));  // shows 100 by 100 in 50 by 50
    }
};

using Calls = std::vector<std::string>;

}  // namespace

TEST(UIWindowTouches, ATouchStaysWithTheViewItCameDownIn) {
    Screen s;
    auto touch = s.window->touchDown({10, 20});
    s.window->touchMove(touch, {350, 290});  // far outside the left view
    s.window->touchUp(touch, {360, 295});
    EXPECT_EQ(s.left->calls, (Calls{"began 1 (10,20)", "moved 1 (350,290)", "ended 1 (360,295)"}));
    EXPECT_TRUE(s.right->calls.empty());
    EXPECT_TRUE(s.outer->calls.empty());
    EXPECT_TRUE(s.window->activeTouches().empty());
    EXPECT_EQ(touch->phase(), UITouchPhase::ended);
    // An ended touch is no longer delivered.
    s.window->touchMove(touch, {1, 1});
    EXPECT_EQ(s.left->calls.size(), 3u);
}

TEST(UIWindowTouches, LocationsFollowTheTransformOfTheReceiver) {
    Screen s;
    // right: centre (250, 50), scale 0.5 about its middle (50, 50).
    auto touch = s.window->touchDown({230, 40});
    EXPECT_EQ(s.right->calls, (Calls{"began 1 (10,30)"}));
    EXPECT_EQ(touch->view(), s.right.get());
    const CGPoint w = touch->location(nullptr);
    EXPECT_EQ(w, (CGPoint{230, 40}));
    s.window->touchMove(touch, {240, 45});
    EXPECT_EQ(touch->previousLocation(s.right.get()), (CGPoint{10, 30}));
    EXPECT_EQ(touch->location(s.right.get()), (CGPoint{30, 40}));
}

TEST(UIWindowTouches, MultiTouchGroupsByViewAndKeepsTheFirstTouchFirst) {
    Screen s;
    auto touches = s.window->touchesDown({{50, 50}, {230, 40}, {60, 70}});
    EXPECT_EQ(s.left->calls, (Calls{"began 2 (50,50)"}));
    EXPECT_EQ(s.right->calls, (Calls{"began 1 (10,30)"}));
    EXPECT_EQ(s.window->activeTouches().size(), 3u);
    // The set keeps the given order whatever the addresses of the touches.
    s.window->touchesMove({{touches[2], {61, 71}}, {touches[0], {51, 51}}});
    EXPECT_EQ(s.left->calls.back(), "moved 2 (61,71)");

    s.window->touchUp(touches[0]);
    s.window->touchesCancel();  // the rest
    EXPECT_EQ(s.left->calls.back(), "cancelled 1 (61,71)");
    EXPECT_EQ(s.right->calls.back(), "cancelled 1 (10,30)");
    EXPECT_TRUE(s.window->activeTouches().empty());
}

TEST(UIWindowTouches, UnhandledTouchesGoUpTheResponderChainAndLostViewsAreSkipped) {
    Screen s;
    s.left->forward = true;
    auto touch = s.window->touchDown({10, 20});
    EXPECT_EQ(s.outer->calls, (Calls{"began 1 (10,20)"}));

    // The view leaves the screen and is dropped while the finger is down.
    std::weak_ptr<UIView> leftGone = s.left;
    s.left->removeFromSuperview();
    s.left.reset();
    EXPECT_TRUE(leftGone.expired());
    s.window->touchMove(touch, {20, 20});
    s.window->touchUp(touch);
    EXPECT_EQ(touch->view(), nullptr);
    EXPECT_TRUE(s.window->activeTouches().empty());

    // A touch beside every view of a window without a background view goes nowhere.
    auto bare = std::make_shared<UIWindow>(CGRect(0, 0, 10, 10));
    auto lost = bare->touchDown({50, 50});
    EXPECT_EQ(lost->view(), nullptr);
    bare->touchUp(lost);
}

TEST(UIControl, ActionsHearTheEventsTheyListenTo) {
    UIControl control;
    std::vector<std::pair<int, UIControlEvents>> heard;
    int a = 0, b = 0;
    control.addTarget(&a, [&](UIControl&, UIControlEvents e) { heard.push_back({1, e}); },
                      UIControlEvent::touchDown | UIControlEvent::valueChanged);
    control.addTarget(&b, [&](UIControl& sender, UIControlEvents e) {
        EXPECT_EQ(&sender, &control);
        heard.push_back({2, e});
    }, UIControlEvent::touchUpInside);

    control.sendActions(UIControlEvent::valueChanged | UIControlEvent::touchUpInside);
    control.sendActions(UIControlEvent::touchCancel);  // nobody listens
    EXPECT_EQ(heard, (std::vector<std::pair<int, UIControlEvents>>{{1, UIControlEvent::valueChanged},
                                                                   {2, UIControlEvent::touchUpInside}}));
    // Removing one event keeps the others; an action may change the targets while it runs.
    control.removeTarget(&a, UIControlEvent::valueChanged);
    heard.clear();
    control.addTarget(&b, [&](UIControl& sender, UIControlEvents) { sender.removeTarget(&a); },
                      UIControlEvent::touchDown);
    control.sendActions(UIControlEvent::allEvents);
    control.sendActions(UIControlEvent::touchDown);
    EXPECT_EQ(heard, (std::vector<std::pair<int, UIControlEvents>>{{1, UIControlEvent::touchDown},
                                                                   {2, UIControlEvent::touchUpInside}}));

    testkit::ControlEventLog log(control);
    control.sendActions(UIControlEvent::touchCancel);
    EXPECT_EQ(log.events, (std::vector<UIControlEvents>{UIControlEvent::touchCancel}));
}
