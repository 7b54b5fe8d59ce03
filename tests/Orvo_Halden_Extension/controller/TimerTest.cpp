#include <functional>

#include "Orvo_Halden_Extension/ChromaticLinesView.h"
#include "platform/foundation/Timer.h"
#include "platform/ui/UIButton.h"
#include "tests/Orvo_Halden_Extension/controller/Session.h"
#include "tests/support/StdoutCapture.h"

namespace controller {
namespace {

constexpr TimeInterval kTick = 0.04;

// Forgets a view's request to be drawn, wherever it is and whether it shows or not.
void forgetRequest(UIView& view) {
    const bool hidden = view.isHidden();
    view.setHidden(false);
    view.displayIfNeeded();
    view.setHidden(hidden);
}

// An open editor with a unit; counts the ticks that ask the spectrum to redraw.
class Redraws : public ::testing::Test {
protected:
    void SetUp() override {
        s.show();
        unit = s.createUnit();
        s.drain();
        settle();
    }
    void settle() { forgetRequest(*s.controller->spectroView); }
    int redrawsOver(int ticks) {
        int count = 0;
        for (int i = 0; i < ticks; ++i) {
            s.clock.advance(kTick);
            count += s.controller->spectroView->needsDisplay();
            settle();
        }
        return count;
    }

    Session s;
    std::shared_ptr<Unit> unit;
};

TEST_F(Redraws, TwentyFiveASecondWhileVisible) { EXPECT_EQ(redrawsOver(25), 25); }

TEST(RedrawsWithheld, WhileTheSpectrumCannotBeSeenOrHasNothingToShow) {
    struct Case {
        const char* name;
        std::function<void(Session&)> hide;
    };
    const Case cases[] = {
        {"no unit", [](Session& s) { s.controller->setAudioUnit(nullptr); }},
        {"bypassed", [](Session& s) { s.controller->audioUnit()->setShouldBypassEffect(true); }},
        {"hidden", [](Session& s) { s.controller->spectroView->setHidden(true); }},
        {"ancestor hidden", [](Session& s) { s.controller->pluginView->setHidden(true); }},
        {"outside its superview",
         [](Session& s) { s.controller->spectroView->setFrame({700, 182, 640, 188}); }},
        {"no window", [](Session& s) { s.controller->view()->removeFromSuperview(); }},
    };
    for (const Case& c : cases) {
        Session s;
        s.show();
        s.createUnit();
        s.drain();
        c.hide(s);
        s.drain();
        int redraws = 0;
        for (int i = 0; i < 10; ++i) {
            forgetRequest(*s.controller->spectroView);
            s.clock.advance(kTick);
            redraws += s.controller->spectroView->needsDisplay();
        }
        EXPECT_EQ(redraws, 0) << c.name;
    }
}

TEST_F(Redraws, ResumeOnTheTickAfterBypassEnds) {
    unit->setShouldBypassEffect(true);
    EXPECT_EQ(redrawsOver(5), 0);
    unit->setShouldBypassEffect(false);
    EXPECT_EQ(redrawsOver(1), 1);
}

TEST(Lifecycle, ViewLoadingWiresTheEditorAndStartsFrozenAndLocked) {
    Session s;
    const long timersBefore = Timer::liveCount();
    testkit::StdoutCapture capture;
    s.show();
    const auto lines = capture.lines();
    capture.finish();
    auto& c = *s.controller;

    EXPECT_EQ(countOf(lines, "AudioUnitViewController: WARNING: The audio unit plugin is nil (yet?)."), 1u);
    EXPECT_EQ(c.mainView->delegate().get(), static_cast<OrvoHaldenViewDelegate*>(&c));
    EXPECT_EQ(c.mainView->viewController().get(), static_cast<OrvoHaldenViewOwner*>(&c));
    EXPECT_EQ(c.spectroView->viewController().get(), static_cast<OrvoHaldenViewControllerLink*>(&c));
    EXPECT_EQ(c.currentView(), c.pluginView);
    EXPECT_TRUE(c.touchesLocked());
    EXPECT_FALSE(c.isSizeable());
    EXPECT_EQ(c.freezeButton->alpha(), 1.0);
    EXPECT_EQ(Timer::liveCount(), timersBefore + 1);
}

TEST(Lifecycle, AControllerWhoseViewNeverLoadsStartsNoTimer) {
    const long timersBefore = Timer::liveCount();
    {
        Session s;
        s.createUnit();
        s.drain();
        EXPECT_EQ(Timer::liveCount(), timersBefore);
    }
}

TEST(Lifecycle, ClosingAnEditorFreesItsUnitAndTimerEveryTime) {
    const long timersBefore = Timer::liveCount();
    for (int round = 0; round < 10; ++round) {
        std::weak_ptr<Unit> unit;
        std::weak_ptr<AudioUnitViewController> controller;
        {
            Session s;
            s.show();
            unit = s.createUnit();
            controller = s.controller;
            s.drain();
            s.clock.advance(5 * kTick);
            unit.lock()->parameterTree()->parameterWithAddress(kSizeBP)->setValue(0.5f);
            s.window->displayIfNeeded();
        }
        EXPECT_TRUE(controller.expired()) << round;
        EXPECT_TRUE(unit.expired()) << round;
        EXPECT_EQ(Timer::liveCount(), timersBefore) << round;
    }
}

TEST(Lifecycle, ATreeThatOutlivesItsEditorCallsNothing) {
    std::shared_ptr<Unit> unit;
    {
        Session s;
        s.show();
        unit = s.createUnit();
        s.drain();
    }
    unit->parameterTree()->parameterWithAddress(kSizeBP)->setValue(0.5f);
    EXPECT_EQ(DispatchQueue::main().drain(), 0u);
}

}  // namespace
}  // namespace controller
