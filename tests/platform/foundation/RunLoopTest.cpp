#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Timer.h"

namespace {

struct Target {
    int fired = 0;
};

// Every test starts with a clean main loop and leaves none of its timers behind.
class RunLoopTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(RunLoop::main().timerCount(), 0u);
        EXPECT_EQ(Timer::liveCount(), 0);
    }
    VirtualClock clock;
};

TEST_F(RunLoopTest, RepeatingTimerFiresOncePerIntervalOnTheVirtualClock) {
    const TimeInterval start = clock.now();
    std::vector<TimeInterval> fired;
    auto timer = Timer::scheduledTimer(0.009, true, [&](Timer&) { fired.push_back(Clock::now()); });
    EXPECT_DOUBLE_EQ(timer->fireDate(), start + 0.009);

    clock.advance(0.009 * 5);
    ASSERT_EQ(fired.size(), 5u);
    for (std::size_t k = 0; k < fired.size(); ++k) EXPECT_NEAR(fired[k] - start, 0.009 * double(k + 1), 1e-9);
    EXPECT_NEAR(clock.now() - start, 0.045, 1e-9);

    // Steps of one interval meet every tick despite rounding.
    for (int i = 0; i < 1000; ++i) clock.advance(0.009);
    EXPECT_EQ(fired.size(), 1005u);

    clock.advance(0.004); // half an interval: nothing due
    EXPECT_EQ(fired.size(), 1005u);
    const TimeInterval before = clock.now();
    clock.advance(-1.0); // time never runs backwards
    EXPECT_EQ(clock.now(), before);
    timer->invalidate();
    clock.advance(1.0);
    EXPECT_EQ(fired.size(), 1005u);
}

TEST_F(RunLoopTest, OneShotTimerFiresOnceAndLeavesTheLoop) {
    int fired = 0;
    std::weak_ptr<Timer> watch = Timer::scheduledTimer(0.5, false, [&](Timer&) { ++fired; });
    EXPECT_EQ(RunLoop::main().timerCount(), 1u);
    EXPECT_FALSE(watch.expired()) << "the loop holds a scheduled timer";
    clock.advance(0.49);
    EXPECT_EQ(fired, 0);
    clock.advance(0.02);
    EXPECT_EQ(fired, 1);
    clock.advance(5.0);
    EXPECT_EQ(fired, 1);
    EXPECT_TRUE(watch.expired());
}

TEST_F(RunLoopTest, TimerKeepsItsTargetAliveUntilInvalidatedInsideItsOwnFiring) {
    auto target = std::make_shared<Target>();
    std::weak_ptr<Target> watch = target;
    bool aliveAfterInvalidate = false;
    Timer::scheduledTimer(0.01, true, [target, &aliveAfterInvalidate](Timer& timer) {
        if (++target->fired == 3) {
            timer.invalidate();
            aliveAfterInvalidate = target->fired == 3; // still ours until the block returns
        }
    });
    target.reset();
    EXPECT_FALSE(watch.expired()) << "the scheduled timer owns the target";

    clock.advance(0.025);
    ASSERT_FALSE(watch.expired());
    EXPECT_EQ(watch.lock()->fired, 2);

    clock.advance(0.1);
    EXPECT_TRUE(aliveAfterInvalidate);
    EXPECT_TRUE(watch.expired()) << "invalidating releases the block and its target";
}

TEST_F(RunLoopTest, InvalidateFromOutsideReleasesTheTargetAtOnce) {
    auto target = std::make_shared<Target>();
    std::weak_ptr<Target> watch = target;
    auto timer = Timer::scheduledTimer(0.01, true, [target](Timer&) { ++target->fired; });
    target.reset();
    clock.advance(0.02);
    timer->invalidate();
    EXPECT_TRUE(watch.expired());
    EXPECT_FALSE(timer->isValid());
    EXPECT_EQ(RunLoop::main().timerCount(), 0u);
    timer->invalidate(); // twice is harmless
}

TEST_F(RunLoopTest, TimersDueTogetherFireInDateThenSchedulingOrder) {
    std::vector<char> order;
    auto a = Timer::scheduledTimer(0.002, true, [&](Timer&) { order.push_back('a'); });
    auto b = Timer::scheduledTimer(0.003, true, [&](Timer&) { order.push_back('b'); });
    clock.advance(0.012);
    EXPECT_EQ(std::string(order.begin(), order.end()), "abaababaab");
    a->invalidate();
    b->invalidate();
}

TEST_F(RunLoopTest, RestartInsideTheFiringLeavesExactlyOneLiveTimer) {
    std::shared_ptr<Timer> current;
    int runs = 0;
    std::function<void()> start = [&] {
        current = Timer::scheduledTimer(0.01, true, [&](Timer& self) {
            self.invalidate();
            if (++runs < 4) start();
        });
    };
    start();
    for (int i = 0; i < 3; ++i) {
        clock.advance(0.01);
        EXPECT_EQ(RunLoop::main().timerCount(), 1u);
    }
    clock.advance(0.01);
    EXPECT_EQ(runs, 4);
    EXPECT_EQ(RunLoop::main().timerCount(), 0u);
    current.reset();
}

TEST_F(RunLoopTest, MissedFireDatesAreSkippedAndTheGridKept) {
    const TimeInterval start = clock.now();
    int fired = 0;
    auto timer = Timer::scheduledTimer(0.1, true, [&](Timer&) { ++fired; });
    clock.set(start + 1.05); // the loop did not run for ten intervals
    clock.advance(0.01);
    EXPECT_EQ(fired, 1);
    EXPECT_NEAR(timer->fireDate() - start, 1.1, 1e-9);
    clock.advance(0.1);
    EXPECT_EQ(fired, 2);
    timer->invalidate();
}

TEST_F(RunLoopTest, UnusableIntervalsBecomeTheMinimum) {
    for (TimeInterval bad : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
        int fired = 0;
        auto timer = Timer::scheduledTimer(bad, true, [&](Timer&) { ++fired; });
        EXPECT_EQ(timer->timeInterval(), Timer::minimumInterval);
        clock.advance(Timer::minimumInterval * 10);
        EXPECT_EQ(fired, 10);
        timer->invalidate();
    }
}

TEST_F(RunLoopTest, FireRunsTheBlockWithoutMovingTheSchedule) {
    int fired = 0;
    auto repeating = Timer::scheduledTimer(1.0, true, [&](Timer&) { ++fired; });
    const TimeInterval due = repeating->fireDate();
    repeating->fire();
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(repeating->fireDate(), due);
    EXPECT_TRUE(repeating->isValid());
    repeating->invalidate();
    repeating->fire(); // an invalid timer runs nothing
    EXPECT_EQ(fired, 1);

    auto once = Timer::scheduledTimer(1.0, false, [&](Timer&) { ++fired; });
    once->fire();
    EXPECT_EQ(fired, 2);
    EXPECT_FALSE(once->isValid());
}

TEST_F(RunLoopTest, TimerAddedByHandRunsOnThatLoopOnlyOnce) {
    int fired = 0;
    auto timer = std::make_shared<Timer>(0.01, true, [&](Timer&) { ++fired; });
    EXPECT_EQ(RunLoop::main().timerCount(), 0u);
    RunLoop::main().add(timer);
    RunLoop::main().add(timer); // already scheduled: ignored
    EXPECT_EQ(RunLoop::main().timerCount(), 1u);
    clock.advance(0.03);
    EXPECT_EQ(fired, 3);
    timer->invalidate();
    RunLoop::main().add(timer); // invalid: ignored
    EXPECT_EQ(RunLoop::main().timerCount(), 0u);
}

TEST_F(RunLoopTest, StopInsideATimerEndsTheRun) {
    const TimeInterval start = clock.now();
    int fired = 0;
    auto timer = Timer::scheduledTimer(0.01, true, [&](Timer&) {
        if (++fired == 3) RunLoop::current().stop();
    });
    RunLoop::main().run();
    EXPECT_EQ(fired, 3);
    EXPECT_NEAR(clock.now() - start, 0.03, 1e-9);
    timer->invalidate();
}

TEST(RunLoopThreads, EachThreadRunsItsOwnTimersUntilNoneIsLeft) {
    std::atomic<int> fired{0};
    std::atomic<bool> onItsThread{true};
    std::thread worker([&] {
        const auto self = std::this_thread::get_id();
        EXPECT_NE(&RunLoop::current(), &RunLoop::main());
        Timer::scheduledTimer(0.001, true, [&](Timer& timer) {
            if (std::this_thread::get_id() != self) onItsThread = false;
            if (++fired == 5) timer.invalidate();
        });
        RunLoop::current().run(); // returns once the loop has no timer left
    });
    worker.join();
    EXPECT_EQ(fired.load(), 5);
    EXPECT_TRUE(onItsThread.load());
    EXPECT_EQ(Timer::liveCount(), 0);
}

TEST(RunLoopThreads, AnEndingThreadReleasesItsTimers) {
    auto target = std::make_shared<Target>();
    std::weak_ptr<Target> watch = target;
    std::thread worker([t = std::move(target)]() mutable {
        Timer::scheduledTimer(10.0, true, [t](Timer&) { ++t->fired; });
        t.reset();
    });
    worker.join();
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(Timer::liveCount(), 0);
}

TEST(RunLoopThreads, StopFromAnotherThreadWakesASleepingMainLoop) {
    std::atomic<bool> returned{false};
    std::thread stopper([&] {
        while (!returned) {
            RunLoop::main().stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const TimeInterval start = Clock::now();
    RunLoop::main().runUntil(start + 60.0);
    returned = true;
    stopper.join();
    EXPECT_LT(Clock::now() - start, 30.0);
}

} // namespace
