#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UIWindow.h"
#include "tests/support/Geometry.h"

namespace {

using State = UIGestureRecognizerState;

// Counts the touch callbacks the view itself gets.
class TouchCounter : public UIView {
public:
    using UIView::UIView;
    void touchesBegan(const UITouchSet&, const UIEvent*) override { ++began; }
    void touchesMoved(const UITouchSet&, const UIEvent*) override { ++moved; }
    void touchesEnded(const UITouchSet&, const UIEvent*) override { ++ended; }
    int began = 0, moved = 0, ended = 0;
};

// A window with one view and the five recognisers of an editor on it, the
// single tap waiting for the double tap; every action is logged as
// "<name> <state>".
struct Screen {
    VirtualClock clock;
    std::shared_ptr<UIWindow> window = std::make_shared<UIWindow>(CGRect(0, 0, 400, 300));
    std::shared_ptr<TouchCounter> view = std::make_shared<TouchCounter>(CGRect(0, 0, 400, 300));
    std::shared_ptr<UIPanGestureRecognizer> pan = std::make_shared<UIPanGestureRecognizer>();
    std::shared_ptr<UIPinchGestureRecognizer> pinch = std::make_shared<UIPinchGestureRecognizer>();
    std::shared_ptr<UITapGestureRecognizer> tap = std::make_shared<UITapGestureRecognizer>();
    std::shared_ptr<UITapGestureRecognizer> doubleTap = std::make_shared<UITapGestureRecognizer>();
    std::shared_ptr<UILongPressGestureRecognizer> press = std::make_shared<UILongPressGestureRecognizer>();
    std::vector<std::string> log;
    std::vector<CGPoint> translations;
    std::vector<CGFloat> scales;

    Screen() {
        window->addSubview(view);
        doubleTap->numberOfTapsRequired = 2;
        tap->requireToFail(doubleTap);
        watch(pan, "pan");
        watch(pinch, "pinch");
        watch(tap, "tap");
        watch(doubleTap, "doubleTap");
        watch(press, "press");
        pan->addTarget(this, [this](UIGestureRecognizer& r) {
            translations.push_back(static_cast<UIPanGestureRecognizer&>(r).translationInView(view.get()));
        });
        pinch->addTarget(this, [this](UIGestureRecognizer& r) {
            scales.push_back(static_cast<UIPinchGestureRecognizer&>(r).scale);
        });
    }

    void watch(const std::shared_ptr<UIGestureRecognizer>& r, std::string name) {
        view->addGestureRecognizer(r);
        r->addTarget(this, [this, name](UIGestureRecognizer& g) {
            static const char* names[] = {"possible", "began", "changed", "ended", "cancelled", "failed"};
            log.push_back(name + " " + names[int(g.state())]);
        });
    }
    std::vector<std::string> take() { return std::exchange(log, {}); }
    void tapAt(CGPoint p) { window->touchUp(window->touchDown(p)); }
};

using Log = std::vector<std::string>;

}  // namespace

TEST(Gestures, ADragPansFromWhereTheFingerCameDownAndTheViewStillSeesEveryTouch) {
    Screen s;
    auto t = s.window->touchDown({100, 100});
    s.window->touchMove(t, {105, 100});  // inside the hysteresis
    EXPECT_EQ(s.take(), Log{});
    s.window->touchMove(t, {130, 120});
    s.window->touchMove(t, {150, 150});
    s.window->touchUp(t, {150, 150});
    EXPECT_EQ(s.take(), (Log{"pan began", "pan changed", "pan ended"}));
    EXPECT_EQ(s.translations, (std::vector<CGPoint>{{30, 20}, {50, 50}, {50, 50}}));
    EXPECT_EQ(s.pan->state(), State::possible);
    EXPECT_EQ(s.view->began, 1);
    EXPECT_EQ(s.view->moved, 3);
    EXPECT_EQ(s.view->ended, 1);
    s.clock.advance(1);  // nothing waits: the tap failed when the finger moved
    EXPECT_EQ(s.take(), Log{});
}

TEST(Gestures, PanTranslationIsMeasuredInTheViewAsked) {
    Screen s;
    auto scaled = std::make_shared<UIView>(CGRect(0, 0, 100, 100));
    s.window->addSubview(scaled);
    scaled->setTransform(CGAffineTransform::makeScale(2, 2));
    scaled->setUserInteractionEnabled(false);  // the touches stay with the recognisers' view
    auto t = s.window->touchDown({10, 10});
    s.window->touchMove(t, {50, 30});
    EXPECT_EQ(s.pan->translationInView(scaled.get()), (CGPoint{20, 10}));
    EXPECT_EQ(s.pan->translationInView(nullptr), (CGPoint{40, 20}));
    s.pan->setTranslation({}, nullptr);
    s.window->touchMove(t, {60, 30});
    EXPECT_EQ(s.pan->translationInView(nullptr), (CGPoint{10, 0}));
}

TEST(Gestures, APinchScalesByTheFingersDistanceSinceTheyCameDownAndEndsWhenOneLifts) {
    Screen s;
    // The middle of the two fingers stays put, so this is no pan.
    auto fingers = s.window->touchesDown({{100, 100}, {200, 100}});
    s.window->touchesMove({{fingers[0], {50, 100}}, {fingers[1], {250, 100}}});
    s.window->touchesMove({{fingers[0], {125, 100}}, {fingers[1], {175, 100}}});
    s.window->touchUp(fingers[1]);
    s.window->touchesMove({{fingers[0], {0, 100}}});
    s.window->touchUp(fingers[0]);
    EXPECT_EQ(s.take(), (Log{"pinch began", "pinch changed", "pinch ended"}));
    EXPECT_EQ(s.scales, (std::vector<CGFloat>{2, 0.5, 0.5}));
    // One finger alone never pinches.
    auto one = s.window->touchDown({100, 100});
    s.window->touchMove(one, {104, 104});
    s.window->touchUp(one);
    EXPECT_EQ(s.pinch->state(), State::possible);
    EXPECT_TRUE(s.take().empty());
}

TEST(Gestures, ASingleTapWaitsForTheDoubleTapToFailAndADoubleTapIsNotASingleOne) {
    Screen s;
    s.tapAt({50, 50});
    s.clock.advance(0.3);
    EXPECT_EQ(s.take(), Log{});
    s.clock.advance(0.1);
    EXPECT_EQ(s.take(), Log{"tap ended"});

    s.tapAt({50, 50});
    s.clock.advance(0.2);
    s.tapAt({52, 50});
    EXPECT_EQ(s.take(), Log{"doubleTap ended"});
    s.clock.advance(1);
    EXPECT_EQ(s.take(), Log{});
    EXPECT_EQ(s.tap->state(), State::possible);
}

TEST(Gestures, AHeldFingerIsALongPressAfterItsDurationUntilItLifts) {
    Screen s;
    auto t = s.window->touchDown({80, 80});
    s.clock.advance(0.45);
    EXPECT_EQ(s.take(), Log{});
    s.clock.advance(0.1);
    EXPECT_EQ(s.take(), Log{"press began"});
    // Once it has begun it holds the touch: the drag is no pan, the release no tap.
    s.window->touchMove(t, {140, 80});
    s.window->touchUp(t);
    s.clock.advance(1);
    EXPECT_EQ(s.take(), (Log{"press changed", "press ended"}));
}

TEST(Gestures, AFingerThatMovesOrLiftsEarlyIsNoLongPress) {
    Screen s;
    auto moved = s.window->touchDown({80, 80});
    s.window->touchMove(moved, {80, 95});
    s.clock.advance(1);
    s.window->touchUp(moved);
    auto lifted = s.window->touchDown({80, 80});
    s.clock.advance(0.2);
    s.window->touchUp(lifted);
    s.clock.advance(1);
    for (const std::string& line : s.take())
        EXPECT_EQ(line.rfind("press", 0), std::string::npos) << line;
}

TEST(Gestures, RemovingOrDisablingARecogniserMidGestureCancelsIt) {
    Screen s;
    auto t = s.window->touchDown({10, 10});
    s.window->touchMove(t, {60, 10});
    s.pan->setEnabled(false);
    s.window->touchMove(t, {90, 10});
    s.view->removeGestureRecognizer(s.press.get());
    s.window->touchUp(t);
    EXPECT_EQ(s.take(), (Log{"pan began", "pan cancelled"}));
    EXPECT_EQ(s.press->view(), nullptr);
    s.pan->setEnabled(true);
    auto next = s.window->touchDown({10, 10});
    s.window->touchMove(next, {60, 10});
    EXPECT_EQ(s.take(), Log{"pan began"});
}

TEST(Gestures, RecognisersOutliveTheirViewWithoutHarm) {
    auto screen = std::make_unique<Screen>();
    auto pan = screen->pan;
    auto t = screen->window->touchDown({10, 10});
    screen->window->touchMove(t, {60, 10});
    screen->view->removeFromSuperview();
    screen->view.reset();
    EXPECT_EQ(pan->view(), nullptr);
    screen->window->touchUp(t);
    screen->clock.advance(1);
}

TEST(Gestures, RecognizerOnlyTouchesPinchWithoutReachingAnyViewOrOtherGesture) {
    struct Case {
        const char* what;
        CGPoint anchor;
        Log expected;
    };
    const Case cases[] = {
        {"over the view", {200, 150}, {"pinch began", "pinch changed", "pinch ended"}},
        {"off the window", {500, 150}, {}},  // no view there, so no recogniser either
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Screen s;
        // A control right under both fingers, inside the recognisers' view.
        auto control = std::make_shared<TouchCounter>(CGRect(0, 100, 400, 100));
        s.view->addSubview(control);
        const auto pinchOnly = [](const UIGestureRecognizer& r) {
            return dynamic_cast<const UIPinchGestureRecognizer*>(&r) != nullptr;
        };
        auto fingers = s.window->recognizerTouchesDown(k.anchor, {{150, 150}, {250, 150}}, pinchOnly);
        s.clock.advance(1);  // held still long enough for a long press
        s.window->touchesMove({{fingers[0], {100, 150}}, {fingers[1], {300, 150}}});
        s.window->touchesMove({{fingers[0], {50, 150}}, {fingers[1], {350, 150}}});
        s.window->touchesUp({{fingers[0], {50, 150}}, {fingers[1], {350, 150}}});
        s.clock.advance(1);
        EXPECT_EQ(s.take(), k.expected);
        EXPECT_EQ(control->began + control->moved + control->ended, 0);
        EXPECT_EQ(s.view->began + s.view->moved + s.view->ended, 0);
        EXPECT_TRUE(s.window->activeTouches().empty());
    }
}
