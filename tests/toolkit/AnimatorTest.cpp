#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Orvo_Halden_Extension/Animator.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Timer.h"

namespace {

using Ints = std::vector<int>;
using Floats = std::vector<float>;

constexpr float kInterval = 0.009f;

// Records what an Animator reports, with the tick each report came on.
struct Trace {
    int tick = 0;
    Floats animations;
    Ints finished;
    Floats finishedValues;
    Ints loops;

    void attach(Animator& a) {
        a.onAnimation = [this](Animator&, float v) { animations.push_back(v); };
        a.onFinished = [this](Animator&, float v) {
            finished.push_back(tick);
            finishedValues.push_back(v);
        };
        a.onLoop = [this](Animator&) { loops.push_back(tick); };
    }
};

std::shared_ptr<Animator> animator(float from, float to, std::int64_t frames) {
    return std::make_shared<Animator>(from, to, frames, kInterval);
}

// Drives the timers through a virtual clock; every test leaves no timer and no Animator behind.
class AnimationTimers : public ::testing::Test {
protected:
    void advance(int ticks = 1, float interval = kInterval) {
        for (int i = 0; i < ticks; ++i) clock.advance(static_cast<TimeInterval>(interval));
    }
    long newTimers() const { return Timer::liveCount() - timersBefore; }

    void TearDown() override {
        advance();
        EXPECT_EQ(newTimers(), 0);
        EXPECT_EQ(Animator::classCount(), 0);
    }

    VirtualClock clock;
    const long timersBefore = Timer::liveCount();
};

} // namespace

// ---------------------------------------------------------------------------
// Animator

TEST(Animator, FourLinearFramesEndOnTheFifthTick) {
    Trace trace;
    auto a = animator(0.0f, 1.0f, 4);
    trace.attach(*a);
    Floats values;
    for (trace.tick = 1; trace.tick <= 4; ++trace.tick) {
        a->animate();
        values.push_back(a->getValue());
        EXPECT_FALSE(a->isFinished());
    }
    EXPECT_EQ(values, (Floats{0.25f, 0.5f, 0.75f, 1.0f}));
    EXPECT_EQ(trace.animations, (Floats{0.0f, 0.25f, 0.5f, 0.75f}));
    EXPECT_TRUE(trace.finished.empty());
    a->animate();
    EXPECT_TRUE(a->isFinished());
    EXPECT_EQ(trace.finished, Ints{5});
    EXPECT_EQ(trace.finishedValues, Floats{1.0f});
    EXPECT_EQ(a->getValue(), 1.0f);
}

TEST(Animator, LoopedRunReversesEveryFifthTick) {
    Trace trace;
    auto a = animator(0.0f, 1.0f, 4);
    a->looped = true;
    trace.attach(*a);
    for (trace.tick = 1; trace.tick <= 12; ++trace.tick) {
        a->animate();
        if (trace.tick == 6) {
            EXPECT_EQ(a->getValue(), 0.75f);
        }
    }
    EXPECT_EQ(trace.loops, (Ints{5, 10}));
    EXPECT_EQ(trace.animations[4], 1.0f); // the first report of the way back carries the destination
    EXPECT_TRUE(trace.finished.empty());
    EXPECT_FALSE(a->isFinished());
    a->stop();
    EXPECT_FALSE(a->looped);
}

TEST(Animator, DegenerateRunsEndOnTheirFirstTick) {
    Trace trace;
    auto a = animator(0.0f, 1.0f, -5);
    trace.attach(*a);
    EXPECT_EQ(a->frames(), 0);
    EXPECT_EQ(a->frameCount(), -5);
    trace.tick = 1;
    a->animate();
    EXPECT_EQ(trace.finished, Ints{1});
    a->rewind();
    EXPECT_EQ(a->frames(), 0);

    a->setup(2.0f, 2.0f, 100);
    EXPECT_EQ(a->frames(), 0);
    EXPECT_EQ(a->frameCount(), 100);
    a->animate();
    EXPECT_EQ(trace.finished, (Ints{1, 1}));
    EXPECT_TRUE(trace.animations.empty());

    a->setup(2.0f, 2.0f, 3);
    a->looped = true;
    for (trace.tick = 1; trace.tick <= 3; ++trace.tick) a->animate();
    EXPECT_EQ(trace.loops, (Ints{1, 2, 3}));
    EXPECT_TRUE(trace.animations.empty());
}

TEST(Animator, RewindRestartsLinearlyAndTypeChangesTakeTheNextFrame) {
    Animator a(0.0f, 8.0f, 4, 0.02f, EnumEasing::EASING_easeOutBounce);
    a.animate();
    a.rewind();
    EXPECT_EQ(a.type(), EnumEasing::EASING_easeNone);
    EXPECT_EQ(a.interval(), 0.009f);
    EXPECT_EQ(a.getValue(), 0.0f);
    a.animate();
    EXPECT_EQ(a.getValue(), 2.0f);
    a.setType(EnumEasing::EASING_easeInQuad);
    a.animate();
    EXPECT_EQ(a.getValue(), 2.0f); // frame 2 of 4 on the quadratic curve: 8 * 0.25
}

TEST(Animator, CallbacksThatEndTheRunNeverProduceNaN) {
    Trace trace;
    auto a = animator(0.0f, 1.0f, 4);
    trace.attach(*a);
    a->onAnimation = [](Animator& self, float) { self.setup(0.0f, 1.0f, 0); };
    trace.tick = 1;
    a->animate();
    EXPECT_TRUE(std::isfinite(a->getValue()));
    trace.tick = 2;
    a->animate();
    EXPECT_EQ(trace.finished, Ints{2});
    EXPECT_EQ(a->getValue(), 1.0f);

    a->setup(0.0f, 1.0f, 4);
    a->onAnimation = [](Animator& self, float) { self.stop(); };
    a->animate();
    EXPECT_TRUE(std::isfinite(a->getValue()));
    EXPECT_TRUE(a->isFinished());
}

TEST_F(AnimationTimers, StartedAnimatorEndsItsTimerAndGoesAway) {
    Trace trace;
    std::weak_ptr<Animator> weak;
    {
        auto a = animator(0.0f, 1.0f, 4);
        trace.attach(*a);
        a->start();
        weak = a;
    }
    for (trace.tick = 1; trace.tick <= 4; ++trace.tick) advance();
    EXPECT_TRUE(trace.finished.empty());
    EXPECT_EQ(weak.lock()->getValue(), 1.0f);
    EXPECT_EQ(newTimers(), 1);
    advance();
    EXPECT_EQ(trace.finished, Ints{5});
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(newTimers(), 0);
}

TEST_F(AnimationTimers, UndoFinishesAtOnceAndStopsTheTimer) {
    Trace trace;
    auto a = animator(0.0f, 1.0f, 4);
    a->start();
    advance(2);
    trace.attach(*a);
    a->undo();
    EXPECT_EQ(trace.animations, Floats{0.0f});
    EXPECT_EQ(trace.finishedValues, Floats{1.0f});
    EXPECT_FALSE(a->isTimerScheduled());
}

TEST_F(AnimationTimers, AnimatorWithoutSetupTicksWithoutEffect) {
    Trace trace;
    auto a = std::make_shared<Animator>();
    trace.attach(*a);
    a->start();
    advance(20, 0.005f);
    EXPECT_TRUE(trace.animations.empty());
    EXPECT_TRUE(trace.finished.empty());
    EXPECT_EQ(newTimers(), 1);
    a->stop();
}

TEST_F(AnimationTimers, AnimatorNobodySharesTakesItsTimerAlong) {
    {
        Animator a(0.0f, 1.0f, 4, kInterval);
        a.start();
        advance();
        EXPECT_EQ(a.getValue(), 0.25f);
    }
    EXPECT_EQ(newTimers(), 0);
    advance(5);
}

TEST_F(AnimationTimers, SecondStartReplacesTheRunningTimer) {
    auto a = animator(0.0f, 1.0f, 4);
    a->start();
    a->start();
    EXPECT_EQ(newTimers(), 1);
    advance();
    EXPECT_EQ(a->step(), 1);
    a->stop();
}

TEST_F(AnimationTimers, RestartFromOnFinishedKeepsExactlyOneTimer) {
    Trace trace;
    auto a = animator(0.0f, 1.0f, 4);
    trace.attach(*a);
    a->onFinished = [&trace](Animator& self, float) {
        trace.finished.push_back(trace.tick);
        if (trace.finished.size() == 1) {
            self.setup(1.0f, 0.0f, 2);
            self.start();
        }
    };
    a->start();
    for (trace.tick = 1; trace.tick <= 5; ++trace.tick) advance();
    EXPECT_EQ(newTimers(), 1);
    for (; trace.tick <= 10; ++trace.tick) advance();
    EXPECT_EQ(trace.finished, (Ints{5, 8}));
    EXPECT_EQ(a->getValue(), 0.0f);
    EXPECT_EQ(newTimers(), 0);
}

// ---------------------------------------------------------------------------
// AnimatorStack

TEST_F(AnimationTimers, StackDropsMembersAsTheyFinishAndEndsAfterTheLast) {
    Ints removed2, removed4, finished;
    int tick = 0;
    std::weak_ptr<AnimatorStack> weak;
    {
        auto stack = std::make_shared<AnimatorStack>();
        auto two = animator(0.0f, 1.0f, 2);
        auto four = animator(0.0f, 1.0f, 4);
        stack->add(two);
        stack->add(four);
        stack->add(nullptr);
        stack->interval = kInterval;
        stack->onRemovedItem = [&, a = two.get()](AnimatorStack&, Animator& m) {
            (&m == a ? removed2 : removed4).push_back(tick);
        };
        stack->onFinished = [&](AnimatorStack&) { finished.push_back(tick); };
        stack->start();
        weak = stack;
    }
    for (tick = 1; tick <= 5; ++tick) advance();
    EXPECT_EQ(removed2, Ints{3});
    EXPECT_EQ(removed4, Ints{5});
    EXPECT_TRUE(finished.empty());
    EXPECT_EQ(weak.lock()->getCount(), 0);
    advance();
    EXPECT_EQ(finished, Ints{6});
    EXPECT_TRUE(weak.expired());
}

TEST(AnimatorStack, CallbacksComeInOrderOnTheFinishingTick) {
    std::string log;
    AnimatorStack stack;
    auto a = animator(0.0f, 1.0f, 1);
    a->onFinished = [&](Animator&, float) { log += "F"; };
    stack.add(a);
    stack.onAnimation = [&](AnimatorStack&, Animator&) { log += "S"; };
    stack.onRemovedItem = [&](AnimatorStack&, Animator&) { log += "R"; };
    stack.onFinished = [&](AnimatorStack&) { log += "E"; };
    stack.animate();
    stack.animate();
    EXPECT_EQ(log, "SSFR");
    stack.animate();
    EXPECT_EQ(log, "SSFRE");
}

TEST(AnimatorStack, UnpreparedDuplicateAndStoppedMembers) {
    int finished = 0, removed = 0;
    AnimatorStack stack;
    stack.onFinished = [&](AnimatorStack&) { ++finished; };
    stack.onRemovedItem = [&](AnimatorStack&, Animator&) { ++removed; };

    stack.add(std::make_shared<Animator>());
    stack.animate();
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(stack.getCount(), 0);

    auto twice = animator(0.0f, 1.0f, 2);
    stack.add(twice);
    stack.add(twice);
    stack.animate();
    EXPECT_EQ(twice->step(), 2); // stepped once per entry
    stack.animate();
    EXPECT_EQ(removed, 1);
    EXPECT_EQ(stack.getCount(), 1);
    stack.animate();
    EXPECT_EQ(finished, 2);
    EXPECT_EQ(stack.getCount(), 0);

    stack.add(animator(0.0f, 1.0f, 3));
    stack.animate();
    stack.stop();
    EXPECT_EQ(stack.getCount(), 0);
    EXPECT_EQ(removed, 1);
}

TEST(AnimatorStack, EmptiedByACallbackInTheMiddleOfATick) {
    std::vector<Animator*> removed;
    AnimatorStack stack;
    stack.add(animator(0.0f, 1.0f, 1));
    stack.add(animator(0.0f, 1.0f, 1));
    stack.add(animator(0.0f, 1.0f, 1));
    stack.onRemovedItem = [&](AnimatorStack& s, Animator& m) {
        removed.push_back(&m);
        s.reset(); // drops the stack's references to every member
    };
    stack.animate();
    stack.animate();
    EXPECT_EQ(removed.size(), 1u);
    EXPECT_EQ(stack.getCount(), 0);
}

TEST_F(AnimationTimers, StackRestartedFromItsOnFinishedRunsOnOneTimer) {
    int runs = 0;
    auto stack = std::make_shared<AnimatorStack>();
    stack->interval = kInterval;
    stack->add(animator(0.0f, 1.0f, 1));
    stack->onFinished = [&](AnimatorStack& s) {
        if (++runs > 1) return;
        s.add(animator(0.0f, 1.0f, 1));
        s.start();
    };
    stack->start();
    advance(3);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(newTimers(), 1);
    EXPECT_EQ(stack->getCount(), 1);
    advance(3);
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(newTimers(), 0);
}

// ---------------------------------------------------------------------------
// AnimatorChain

TEST_F(AnimationTimers, ChainStepsMembersInTurn) {
    Ints finished;
    int tick = 0;
    std::weak_ptr<AnimatorChain> weak;
    {
        auto chain = std::make_shared<AnimatorChain>();
        chain->interval = kInterval;
        chain->add(animator(0.0f, 1.0f, 2));
        chain->add(animator(0.0f, 1.0f, 2));
        chain->onFinished = [&](AnimatorChain& c) {
            finished.push_back(tick);
            EXPECT_EQ(c.getCurrentIndex(), 2);
        };
        chain->start();
        weak = chain;
    }
    for (tick = 1; tick <= 6; ++tick) advance();
    EXPECT_EQ(finished, Ints{6});
    EXPECT_TRUE(weak.expired());
}

TEST_F(AnimationTimers, AsynchronousChainStartsOneMemberPerTick) {
    Ints started, finished;
    int tick = 0;
    std::vector<std::shared_ptr<Animator>> members;
    auto chain = std::make_shared<AnimatorChain>();
    chain->interval = kInterval;
    chain->async = true;
    for (int i = 0; i < 3; ++i) chain->add(members.emplace_back(animator(0.0f, 1.0f, 3)));
    chain->onAnimation = [&](AnimatorChain&, Animator&) { started.push_back(tick); };
    chain->onFinished = [&](AnimatorChain&) { finished.push_back(tick); };
    chain->start();
    for (tick = 1; tick <= 3; ++tick) advance();
    EXPECT_EQ(started, (Ints{1, 2, 3}));
    EXPECT_EQ(finished, Ints{3});
    EXPECT_EQ(chain->getCurrentIndex(), 0);
    EXPECT_TRUE(members[2]->isTimerScheduled());
    advance(5);
    for (const auto& m : members) EXPECT_EQ(m->getValue(), 1.0f);
}

TEST(AnimatorChain, EmptyChainWarnsOnEveryTick) {
    AnimatorChain chain;
    int finished = 0;
    chain.onFinished = [&](AnimatorChain&) { ++finished; };
    testing::internal::CaptureStdout();
    chain.animate();
    chain.animate();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "WARNUNG: Es sind keine Animator Objekte definiert.\n"
                                                      "WARNUNG: Es sind keine Animator Objekte definiert.\n");
    EXPECT_EQ(finished, 0);
    EXPECT_EQ(chain.getCurrentItem(), nullptr);
}

TEST(AnimatorChain, RemovingMembersShiftsTheCurrentOne) {
    auto a = animator(0.0f, 1.0f, 1), b = animator(0.0f, 1.0f, 1), c = animator(0.0f, 1.0f, 1);
    AnimatorChain chain;
    Animator* stepped = nullptr;
    chain.onAnimation = [&](AnimatorChain&, Animator& m) { stepped = &m; };
    for (const auto& m : {a, b, c}) chain.add(m);
    chain.animate();
    EXPECT_EQ(chain.getCurrentItem(), a);
    chain.animate();
    EXPECT_EQ(chain.getCurrentItem(), b);
    chain.remove(a);
    chain.animate();
    EXPECT_EQ(stepped, c.get());

    chain.removeAll();
    for (const auto& m : {a, b, c}) {
        m->rewind();
        chain.add(m);
    }
    for (int i = 0; i < 4; ++i) chain.animate();
    EXPECT_EQ(chain.getCurrentItem(), c);
    chain.remove(b);
    chain.remove(c);
    chain.animate();
    EXPECT_EQ(stepped, a.get());
}

TEST_F(AnimationTimers, RemoveAllStopsARunningChainWithoutFinishing) {
    int finished = 0;
    auto chain = std::make_shared<AnimatorChain>();
    chain->add(animator(0.0f, 1.0f, 5));
    chain->onFinished = [&](AnimatorChain&) { ++finished; };
    chain->start();
    advance(2, chain->interval);
    chain->removeAll();
    EXPECT_FALSE(chain->isTimerScheduled());
    EXPECT_EQ(chain->getCount(), 0);
    EXPECT_EQ(finished, 0);
}

TEST_F(AnimationTimers, BackwardChainRunsFromTheLastMemberAndEnds) {
    std::vector<Animator*> order;
    Ints finished;
    int tick = 0;
    auto a = animator(0.0f, 1.0f, 1), b = animator(0.0f, 1.0f, 1), c = animator(0.0f, 1.0f, 1);
    auto chain = std::make_shared<AnimatorChain>();
    chain->interval = kInterval;
    for (const auto& m : {a, b, c}) chain->add(m);
    chain->setBackwards(true);
    chain->onAnimation = [&](AnimatorChain&, Animator& m) { order.push_back(&m); };
    chain->onFinished = [&](AnimatorChain&) { finished.push_back(tick); };
    chain->start();
    for (tick = 1; tick <= 8; ++tick) advance();
    EXPECT_EQ(order, (std::vector<Animator*>{c.get(), c.get(), b.get(), b.get(), a.get(), a.get()}));
    EXPECT_EQ(finished, Ints{6});
    EXPECT_EQ(chain->getCurrentIndex(), 0);
    EXPECT_FALSE(chain->isTimerScheduled());
}

TEST_F(AnimationTimers, SecondStartOfAGroupReplacesItsTimer) {
    auto chain = std::make_shared<AnimatorChain>();
    chain->add(animator(0.0f, 1.0f, 10));
    chain->start();
    chain->start();
    auto stack = std::make_shared<AnimatorStack>();
    stack->start();
    stack->start();
    EXPECT_EQ(newTimers(), 2);
    chain->stop();
    stack->stop();
}

// ---------------------------------------------------------------------------
// AnimationSequencer

namespace {

struct Timeline {
    std::shared_ptr<AnimationSequencer> sequencer = std::make_shared<AnimationSequencer>();
    Ints finished;
    int tick = 0;

    Timeline() {
        sequencer->interval = kInterval;
        sequencer->onFinished = [this](AnimationSequencer&) { finished.push_back(tick); };
    }
    std::shared_ptr<Animator> place(std::int64_t at, std::int64_t frames) {
        auto a = animator(0.0f, 1.0f, frames);
        sequencer->add(a, at);
        return a;
    }
};

} // namespace

TEST(AnimationSequencer, OverlappingMembersEndWithTheTimeline) {
    Timeline t;
    auto a = t.place(0, 3);
    auto b = t.place(2, 2);
    EXPECT_EQ(t.sequencer->maxFrames(), 4);
    for (t.tick = 1; t.tick <= 4; ++t.tick) {
        t.sequencer->tick();
        if (t.tick == 1) {
            EXPECT_EQ(t.sequencer->getCurrentCount(), 1);
        }
        if (t.tick == 2) {
            EXPECT_EQ(t.sequencer->getCurrentIndex(), 1);
        }
    }
    EXPECT_EQ(t.finished, Ints{4});
    EXPECT_TRUE(a->isFinished() && b->isFinished());
    EXPECT_EQ(t.sequencer->getCurrentFrame(), 0);
    EXPECT_EQ(t.sequencer->getCurrentCount(), 0);
}

TEST_F(AnimationTimers, SequencerOnItsTimerEndsAndGoesAway) {
    Timeline t;
    auto a = t.place(0, 3);
    auto b = t.place(2, 2);
    std::weak_ptr<AnimationSequencer> weak = t.sequencer;
    t.sequencer->start();
    t.sequencer.reset();
    for (t.tick = 1; t.tick <= 4; ++t.tick) advance();
    EXPECT_EQ(t.finished, Ints{4});
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(a->getValue(), 1.0f);
}

TEST(AnimationSequencer, MemberAtFrameZeroMissesItsOwnEnd) {
    Timeline t;
    Trace trace;
    auto a = t.place(0, 3);
    trace.attach(*a);
    for (t.tick = 1; t.tick <= 3; ++t.tick) t.sequencer->tick();
    EXPECT_EQ(t.finished, Ints{3});
    EXPECT_EQ(a->step(), 3);
    EXPECT_TRUE(trace.finished.empty());
    EXPECT_EQ(t.sequencer->getCurrentCount(), 1);
}

TEST(AnimationSequencer, MembersAreKeptInStartOrder) {
    Timeline t;
    auto five = t.place(5, 1), one = t.place(1, 1), three = t.place(3, 1);
    EXPECT_EQ(t.sequencer->getItems(), (std::vector<std::shared_ptr<Animator>>{one, three, five}));
    testing::internal::CaptureStdout();
    t.sequencer->add(nullptr, 2);
    t.sequencer->add(nullptr, 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "FEHLER: Das Animator Objekt ist ungültig.\nFEHLER: Das Animator Objekt ist ungültig.\n");
    EXPECT_EQ(t.sequencer->getCount(), 3);
    EXPECT_EQ(t.sequencer->maxFrames(), 6);
    t.sequencer->remove(five);
    EXPECT_EQ(t.sequencer->maxFrames(), 6);
    t.sequencer->removeAll();
    EXPECT_EQ(t.sequencer->maxFrames(), 0);
}

TEST(AnimationSequencer, PauseHoldsMembersWhileTheFrameRunsOn) {
    Timeline t;
    auto a = t.place(0, 20);
    t.sequencer->tick();
    t.sequencer->tick();
    t.sequencer->pause();
    for (int i = 0; i < 5; ++i) t.sequencer->tick();
    EXPECT_EQ(a->step(), 2);
    EXPECT_EQ(t.sequencer->getCurrentFrame(), 7);
    t.sequencer->resume();
    t.sequencer->tick();
    EXPECT_EQ(a->step(), 3);
}

TEST(AnimationSequencer, SeekStopsEarlierMembersAndRewindsLaterOnes) {
    Timeline t;
    auto a = t.place(0, 2), b = t.place(2, 2), c = t.place(5, 2);
    c->animate();
    t.sequencer->seek(3);
    EXPECT_TRUE(a->isFinished() && b->isFinished());
    EXPECT_EQ(c->step(), 0);
    EXPECT_FALSE(c->isFinished());
    EXPECT_EQ(t.sequencer->getCurrentIndex(), 2);
    t.sequencer->seek(8);
    EXPECT_EQ(t.sequencer->getCurrentFrame(), 0);
    EXPECT_EQ(t.sequencer->getCurrentIndex(), 0);
}

TEST(AnimationSequencer, FinishedTimelineReplaysNothingUntilRewound) {
    Timeline t;
    auto a = t.place(1, 2);
    while (t.finished.empty()) t.sequencer->tick();
    EXPECT_TRUE(a->isFinished());
    for (t.tick = 1; t.tick <= 3; ++t.tick) t.sequencer->tick();
    EXPECT_EQ(t.finished, (Ints{0, 3}));
    EXPECT_TRUE(a->isFinished());
    t.sequencer->rewind();
    t.sequencer->tick();
    EXPECT_EQ(a->step(), 1);
}

TEST(AnimationSequencer, ScanAfterEveryMemberWasPassedAndRemoved) {
    Timeline t;
    auto a = t.place(0, 1), b = t.place(1, 1), c = t.place(2, 1);
    t.sequencer->seek(3);
    EXPECT_EQ(t.sequencer->getCurrentIndex(), 3);
    t.sequencer->remove(b);
    t.sequencer->remove(c);
    t.sequencer->tick();
    EXPECT_EQ(t.sequencer->getCurrentCount(), 0);
    EXPECT_EQ(t.finished.size(), 1u);
}

TEST_F(AnimationTimers, SequencerRestartsOnOneTimer) {
    Timeline t;
    t.place(0, 5);
    t.sequencer->start();
    t.sequencer->start();
    EXPECT_EQ(newTimers(), 1);
    advance();
    EXPECT_EQ(t.sequencer->getCurrentFrame(), 1);
    t.sequencer->stop();
}

// ---------------------------------------------------------------------------
// Impulse

namespace {

struct Kick {
    std::shared_ptr<Impulse> impulse;
    Floats values;
    Ints collisions, finished;
    float valueAtFinish = 0.0f;
    int tick = 0;

    explicit Kick(float amount, std::int64_t frames = 10)
        : impulse(std::make_shared<Impulse>(frames, amount)) {
        impulse->onAnimation = [this](Impulse& i) { values.push_back(i.getValue()); };
        impulse->onCollision = [this](Impulse&) { collisions.push_back(tick); };
        impulse->onFinished = [this](Impulse& i) {
            finished.push_back(tick);
            valueAtFinish = i.getValue();
        };
    }
    void runOut() {
        for (tick = 1; finished.empty() && tick < 1000; ++tick) impulse->animate();
    }
};

} // namespace

TEST(Impulse, KickDecaysAndEndsBelowTheThreshold) {
    for (std::int64_t frames : {10, 0, -3}) {
        Kick k(1.0f, frames);
        k.runOut();
        ASSERT_EQ(k.values.size(), 24u);
        EXPECT_EQ((Floats(k.values.begin(), k.values.begin() + 4)),
                  (Floats{0.75f, 1.3125f, 1.734375f, 2.05078125f}));
        EXPECT_EQ(k.finished, Ints{25});
        EXPECT_NEAR(k.valueAtFinish, 2.99699f, 1e-4f);
        EXPECT_TRUE(k.impulse->isFinished());
        EXPECT_EQ(k.impulse->getValue(), 0.0f);
    }
    for (auto [amount, moves] :
         std::initializer_list<std::pair<float, unsigned>>{{10.0f, 32u}, {100.0f, 40u}, {-4.0f, 28u}}) {
        Kick k(amount);
        k.runOut();
        EXPECT_EQ(k.values.size(), moves) << amount;
    }
    Kick down(-4.0f);
    down.runOut();
    EXPECT_EQ((Floats(down.values.begin(), down.values.begin() + 3)), (Floats{-3.0f, -5.25f, -6.9375f}));
}

TEST(Impulse, BouncesBackFromItsBounds) {
    Kick k(600.0f);
    k.impulse->setMinMax(true, -1024.0f, 1024.0f);
    for (k.tick = 1; k.tick <= 5; ++k.tick) k.impulse->animate();
    EXPECT_EQ((Floats(k.values.begin(), k.values.begin() + 4)), (Floats{450.0f, 787.5f, 787.5f, 597.65625f}));
    EXPECT_EQ(k.collisions, Ints{3});
    EXPECT_LT(k.values[4], k.values[3]); // still moving away from the bound

    Kick exact(20.0f);
    exact.impulse->setup(0, 20.0f, 0.009f, 0.5f);
    exact.impulse->setMinMax(true, -10.0f, 10.0f);
    exact.tick = 1;
    exact.impulse->animate();
    EXPECT_EQ(exact.collisions, Ints{1});
    EXPECT_EQ(exact.impulse->getValue(), 0.0f);

    Kick free(20.0f);
    free.impulse->setMinMax(false, -5.0f, 5.0f);
    free.runOut();
    EXPECT_TRUE(free.collisions.empty());
    EXPECT_GT(free.valueAtFinish, 50.0f);
}

TEST(Impulse, SecondKickAndAlternatingSteps) {
    Kick k(4.0f);
    k.impulse->animate();
    k.impulse->animate();
    k.impulse->setup(0, 8.0f, 0.009f, -0.5f);
    EXPECT_EQ(k.impulse->getSourceValue(), 8.0f);
    for (int i = 0; i < 4; ++i) k.impulse->animate();
    EXPECT_EQ(k.values, (Floats{3.0f, 5.25f, 1.25f, 3.25f, 2.25f, 2.75f}));

    Kick fresh(0.0f);
    fresh.impulse = std::make_shared<Impulse>();
    fresh.impulse->onFinished = [&](Impulse&) { fresh.finished.push_back(1); };
    fresh.impulse->animate();
    EXPECT_EQ(fresh.finished, Ints{1});
}

TEST_F(AnimationTimers, ImpulseOnItsTimerEndsAndGoesAway) {
    std::weak_ptr<Impulse> weak;
    int moves = 0, finished = 0;
    {
        auto impulse = std::make_shared<Impulse>(10, 1.0f);
        impulse->onAnimation = [&](Impulse&) { ++moves; };
        impulse->onFinished = [&](Impulse&) { ++finished; };
        impulse->start();
        impulse->start();
        weak = impulse;
    }
    EXPECT_EQ(newTimers(), 1);
    advance(30);
    EXPECT_EQ(moves, 24);
    EXPECT_EQ(finished, 1);
    EXPECT_TRUE(weak.expired());
}

TEST_F(AnimationTimers, ImpulseKickedAgainFromItsOnFinishedRunsOnOneTimer) {
    int finished = 0, moves = 0;
    auto impulse = std::make_shared<Impulse>(0, 1.0f);
    impulse->onAnimation = [&](Impulse&) { ++moves; };
    impulse->onFinished = [&](Impulse& i) {
        if (++finished > 1) return;
        i.setup(0, 1.0f);
        i.start();
    };
    impulse->start();
    advance(25);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(newTimers(), 1);
    advance(25);
    EXPECT_EQ(finished, 2);
    EXPECT_EQ(moves, 48);
    EXPECT_TRUE(impulse->isFinished());
}

// ---------------------------------------------------------------------------
// Any thread with a run loop can drive animations; its loop returns once every run has ended.

TEST(AnimationThreads, RunsEndOnTheirOwnThreadsLoop) {
    std::vector<std::thread::id> finishedOn;
    float value = 0.0f;
    std::thread worker([&] {
        auto a = std::make_shared<Animator>(0.0f, 1.0f, 4, 0.001f);
        a->onFinished = [&](Animator&, float v) {
            finishedOn.push_back(std::this_thread::get_id());
            value = v;
        };
        auto stack = std::make_shared<AnimatorStack>();
        stack->interval = 0.001f;
        stack->add(std::make_shared<Animator>(0.0f, 1.0f, 3));
        stack->onFinished = [&](AnimatorStack&) { finishedOn.push_back(std::this_thread::get_id()); };
        auto impulse = std::make_shared<Impulse>(0, 1.0f, 0.001f);
        impulse->onFinished = [&](Impulse&) { finishedOn.push_back(std::this_thread::get_id()); };
        a->start();
        stack->start();
        impulse->start();
        a.reset();
        stack.reset();
        impulse.reset();
        RunLoop::current().run();
    });
    const std::thread::id workerId = worker.get_id();
    worker.join();
    EXPECT_EQ(finishedOn, std::vector<std::thread::id>(3, workerId));
    EXPECT_EQ(value, 1.0f);
    EXPECT_EQ(Animator::classCount(), 0);
}
