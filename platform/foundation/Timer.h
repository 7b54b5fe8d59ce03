#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Mutex.h"

class RunLoop;

// A one-shot or repeating timer on one thread's run loop. The block (and
// everything it captures) is kept alive while the timer is valid and released
// by invalidate(), which is safe from inside the block itself. Repeating
// timers fire at fixed multiples of their interval from the moment they were
// scheduled; fire dates missed while the loop was busy are skipped.
class Timer {
public:
    using Block = std::function<void(Timer&)>;

    // Shorter intervals (zero, negative, NaN) are raised to this.
    static constexpr TimeInterval minimumInterval = 0.0001;

    // A timer scheduled on the calling thread's run loop, first due `interval` from now.
    static std::shared_ptr<Timer> scheduledTimer(TimeInterval interval, bool repeats, Block block);

    // A timer not yet scheduled: hand it to RunLoop::add.
    Timer(TimeInterval interval, bool repeats, Block block);
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // Runs the block now; the schedule stays, and a one-shot timer is then invalidated.
    void fire();
    void invalidate();
    bool isValid() const { return valid_.load(std::memory_order_acquire); }

    TimeInterval timeInterval() const { return interval_; }
    bool repeats() const { return repeats_; }
    TimeInterval fireDate() const;

    // Timer objects alive in the process, so tests can show that none is left behind.
    static long liveCount();

private:
    friend class RunLoop;

    // Fire dates within this of the clock count as due, so a clock moved in
    // steps of the interval meets every tick despite rounding.
    static constexpr TimeInterval dueTolerance = 1e-9;

    bool schedule(RunLoop* loop, TimeInterval now, std::uint64_t order);
    void fireScheduled(TimeInterval now);
    std::shared_ptr<Block> currentBlock() const;
    std::uint64_t order() const;
    bool dueAt(TimeInterval now) const REQUIRES(mutex_);

    const TimeInterval interval_;
    const bool repeats_;
    std::atomic<bool> valid_{true};

    mutable Mutex mutex_;
    std::shared_ptr<Block> block_ GUARDED_BY(mutex_);
    RunLoop* loop_ GUARDED_BY(mutex_) = nullptr;
    TimeInterval anchor_ GUARDED_BY(mutex_) = 0.0;
    std::uint64_t ticks_ GUARDED_BY(mutex_) = 0;
    std::uint64_t order_ GUARDED_BY(mutex_) = 0; // scheduling order: timers due together fire in it
};
