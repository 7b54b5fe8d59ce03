#pragma once

#include <condition_variable>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Mutex.h"

class Timer;

// One loop per thread, made on first use. It fires the timers scheduled on
// it, and the main thread's loop also runs the main queue. Timers are meant
// to be scheduled and invalidated on the loop's own thread; stop() and the
// main queue may be used from any thread.
class RunLoop {
public:
    static RunLoop& current();
    static RunLoop& main();

    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;
    ~RunLoop();

    // Schedules a valid timer that is not on any loop yet; its first fire
    // date is one interval from now.
    void add(const std::shared_ptr<Timer>& timer);

    // Runs timers (and the main queue on the main loop) until the clock reaches
    // `date` or stop() is called. On a real clock it sleeps between events; on
    // a virtual clock it jumps from fire date to fire date and never sleeps.
    // A loop other than the main one returns at once when it has no timers.
    void runUntil(TimeInterval date);
    void run() { runUntil(std::numeric_limits<TimeInterval>::infinity()); }

    // Makes a running runUntil return once its current pass is done; a loop
    // that is not running ignores it.
    void stop();

    std::optional<TimeInterval> nextFireDate() const;
    std::size_t timerCount() const;
    bool isMain() const { return isMain_; }

private:
    friend class Timer;
    friend class DispatchQueue;

    explicit RunLoop(bool isMain);

    void remove(const Timer* timer);
    void wakeUp();
    bool takeStopRequest();
    void runPass(TimeInterval now);
    bool advanceVirtualTime(TimeInterval date);
    void waitUntil(TimeInterval date);

    const bool isMain_;
    mutable Mutex mutex_;
    std::condition_variable_any wake_;
    std::vector<std::shared_ptr<Timer>> timers_ GUARDED_BY(mutex_);
    std::uint64_t nextOrder_ GUARDED_BY(mutex_) = 0;
    bool pending_ GUARDED_BY(mutex_) = false;
    bool stopRequested_ GUARDED_BY(mutex_) = false;
    int running_ GUARDED_BY(mutex_) = 0;
};
