#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/Timer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Patience.h"

namespace {

class MainQueueTest : public ::testing::Test {
protected:
    void SetUp() override { DispatchQueue::main().drain(); }
    void TearDown() override { EXPECT_EQ(DispatchQueue::main().pendingCount(), 0u); }
};

TEST_F(MainQueueTest, BlocksFromManyThreadsRunOnTheMainThreadInPostingOrder) {
    constexpr int threads = 4;
    constexpr int perThread = 500;
    std::vector<std::pair<int, int>> ran; // touched only on the main thread
    bool allOnMain = true;
    std::vector<std::thread> posters;
    for (int t = 0; t < threads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                DispatchQueue::main().async([&, t, i] {
                    allOnMain = allOnMain && Thread::isMainThread();
                    ran.emplace_back(t, i);
                });
            }
        });
    }
    // The main thread drains while the others post.
    std::size_t drained = 0;
    for (int spins = 0; spins < 50; ++spins) drained += DispatchQueue::main().drain();
    for (auto& poster : posters) poster.join();
    drained += DispatchQueue::main().drain();

    EXPECT_EQ(drained, std::size_t(threads * perThread));
    ASSERT_EQ(ran.size(), std::size_t(threads * perThread));
    EXPECT_TRUE(allOnMain);
    std::vector<int> next(threads, 0);
    for (const auto& [t, i] : ran) {
        EXPECT_EQ(i, next[t]) << "thread " << t;
        next[t] = i + 1;
    }
}

TEST_F(MainQueueTest, NothingRunsUntilTheQueueIsServed) {
    int ran = 0;
    std::thread poster([&] { DispatchQueue::main().async([&] { ++ran; }); });
    poster.join();
    DispatchQueue::main().async([&] { ++ran; });
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(DispatchQueue::main().pendingCount(), 2u);
    EXPECT_EQ(DispatchQueue::main().drain(), 2u);
    EXPECT_EQ(ran, 2);
}

TEST_F(MainQueueTest, DrainOffTheMainThreadRunsNothing) {
    bool ran = false;
    DispatchQueue::main().async([&] { ran = true; });
    std::size_t drained = 99;
    std::thread other([&] { drained = DispatchQueue::main().drain(); });
    other.join();
    EXPECT_EQ(drained, 0u);
    EXPECT_FALSE(ran);
    DispatchQueue::main().drain();
    EXPECT_TRUE(ran);
}

// Whatever a block throws, the queue logs it and serves the next block (in a
// child: a throw that escapes ends the process).
TEST_F(MainQueueTest, ABlockThatThrowsAnythingIsLoggedAndTheNextStillRuns) {
    const testkit::ChildOutcome run = testkit::runInChild(
        []() -> std::string {
            int ran = 0;
            DispatchQueue::main().async([] { throw std::runtime_error("an error"); });
            DispatchQueue::main().async([] { throw 7; });
            DispatchQueue::main().async([&] { ++ran; });
            try {
                DispatchQueue::main().drain();
            } catch (...) {
                return "a throw left the queue";
            }
            return ran == 1 ? "" : "the next block did not run";
        },
        std::chrono::seconds(30));
    EXPECT_TRUE(run.passed()) << run.describe();
    EXPECT_NE(run.output.find("threw: an error"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("threw something that is no exception"), std::string::npos) << run.output;
}

TEST_F(MainQueueTest, BlocksPostedByBlocksQueueBehindTheOthers) {
    std::string order;
    DispatchQueue::main().async([&] {
        order += 'a';
        DispatchQueue::main().async([&] { order += 'c'; });
    });
    DispatchQueue::main().async([&] { order += 'b'; });
    EXPECT_EQ(DispatchQueue::main().drain(), 3u);
    EXPECT_EQ(order, "abc");
}

TEST_F(MainQueueTest, TheMainRunLoopServesTheQueueBetweenTimers) {
    VirtualClock clock;
    std::string order;
    DispatchQueue::main().async([&] { order += 'q'; });
    auto timer = Timer::scheduledTimer(0.01, true, [&](Timer&) {
        order += 't';
        DispatchQueue::main().async([&] { order += 'p'; });
    });
    EXPECT_EQ(order, "");
    clock.advance(0.0); // serves what is due now: the queue, not yet the timer
    EXPECT_EQ(order, "q");
    clock.advance(0.02);
    // Each block posted by a timer runs before the time moves on to the next tick.
    EXPECT_EQ(order, "qtptp");
    timer->invalidate();
}

TEST_F(MainQueueTest, APostWakesTheSleepingMainLoop) {
    std::thread poster([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        DispatchQueue::main().async([] { RunLoop::main().stop(); });
    });
    const TimeInterval start = Clock::now();
    RunLoop::main().runUntil(start + 60.0);
    poster.join();
    EXPECT_LT(Clock::now() - start, 30.0);
}

} // namespace

namespace {

TEST(SerialQueueTest, RunsBlocksOneAtATimeInOrderOnItsOwnThread) {
    std::vector<int> ran;
    std::atomic<int> inside{0};
    bool overlapped = false, onOwnThread = true;
    {
        DispatchQueue queue("com.velmora.test.serial");
        EXPECT_EQ(queue.label(), "com.velmora.test.serial");
        std::vector<std::thread> posters;
        for (int t = 0; t < 3; ++t)
            posters.emplace_back([&, t] {
                for (int i = 0; i < 100; ++i)
                    queue.async([&, t, i] {
                        overlapped = overlapped || inside.fetch_add(1) != 0;
                        onOwnThread = onOwnThread && queue.isCurrent() && !Thread::isMainThread();
                        ran.push_back(t * 1000 + i);
                        inside.fetch_sub(1);
                    });
            });
        for (auto& poster : posters) poster.join();
    } // the queue runs what is queued before it goes
    EXPECT_EQ(ran.size(), 300u);
    EXPECT_FALSE(overlapped);
    EXPECT_TRUE(onOwnThread);
    for (int t = 0; t < 3; ++t) {
        std::vector<int> mine;
        for (int v : ran)
            if (v / 1000 == t) mine.push_back(v % 1000);
        EXPECT_TRUE(std::is_sorted(mine.begin(), mine.end()));
    }
}

TEST(SerialQueueTest, SyncWaitsForEverythingBeforeItAndRunsInlineOnTheQueueItself) {
    DispatchQueue queue("com.velmora.test.sync");
    std::atomic<int> count{0};
    for (int i = 0; i < 50; ++i)
        queue.async([&] {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
            ++count;
        });
    int seen = -1;
    queue.sync([&] { seen = count; });
    EXPECT_EQ(seen, 50);
    bool nested = false;
    queue.sync([&] { queue.sync([&] { nested = queue.isCurrent(); }); });
    EXPECT_TRUE(nested);
}

TEST(GlobalQueueTest, RunsBlocksConcurrentlyOffTheMainThread) {
    std::mutex mutex;
    std::condition_variable changed;
    int inside = 0, most = 0, done = 0;
    bool offMain = true;
    // Each block stays until a second one runs beside it, however late that
    // one is scheduled; a queue that ran them one at a time keeps the first
    // there until the cap.
    const auto cap = std::chrono::steady_clock::now() + testkit::kPatience;
    for (int i = 0; i < 8; ++i)
        DispatchQueue::global().async([&] {
            std::unique_lock lock(mutex);
            most = std::max(most, ++inside);
            offMain = offMain && !Thread::isMainThread();
            changed.notify_all();
            changed.wait_until(lock, cap, [&] { return most >= 2; });
            --inside;
            ++done;
            changed.notify_all();
        });
    // The blocks use this frame: wait for all of them whatever happens.
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return done == 8; });
    EXPECT_GE(most, 2);
    EXPECT_TRUE(offMain);
}

} // namespace
