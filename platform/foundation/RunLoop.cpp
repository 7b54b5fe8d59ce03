#include "platform/foundation/RunLoop.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/Timer.h"

RunLoop& RunLoop::main() {
    // Never destroyed: other threads may post to the main queue while the program exits.
    static RunLoop* const loop = new RunLoop(true);
    return *loop;
}

RunLoop& RunLoop::current() {
    if (Thread::isMainThread()) return main();
    thread_local std::unique_ptr<RunLoop> loop(new RunLoop(false));
    return *loop;
}

RunLoop::RunLoop(bool isMain) : isMain_(isMain) {}

RunLoop::~RunLoop() {
    // A thread that ends takes its timers with it.
    std::vector<std::shared_ptr<Timer>> timers;
    {
        MutexLock lock(mutex_);
        timers = timers_;
    }
    for (const auto& timer : timers) timer->invalidate();
}

void RunLoop::add(const std::shared_ptr<Timer>& timer) {
    if (!timer) return;
    {
        MutexLock lock(mutex_);
        if (!timer->schedule(this, Clock::now(), nextOrder_)) return;
        ++nextOrder_;
        timers_.push_back(timer);
        pending_ = true;
    }
    wake_.notify_all();
}

void RunLoop::remove(const Timer* timer) {
    std::shared_ptr<Timer> removed; // released after the lock
    MutexLock lock(mutex_);
    const auto it =
        std::find_if(timers_.begin(), timers_.end(), [&](const auto& t) { return t.get() == timer; });
    if (it == timers_.end()) return;
    removed = std::move(*it);
    timers_.erase(it);
}

std::optional<TimeInterval> RunLoop::nextFireDate() const {
    MutexLock lock(mutex_);
    std::optional<TimeInterval> next;
    for (const auto& timer : timers_) {
        const TimeInterval date = timer->fireDate();
        if (!next || date < *next) next = date;
    }
    return next;
}

std::size_t RunLoop::timerCount() const {
    MutexLock lock(mutex_);
    return timers_.size();
}

void RunLoop::wakeUp() {
    {
        MutexLock lock(mutex_);
        pending_ = true;
    }
    wake_.notify_all();
}

void RunLoop::stop() {
    {
        MutexLock lock(mutex_);
        if (running_ == 0) return;
        stopRequested_ = true;
    }
    wake_.notify_all();
}

bool RunLoop::takeStopRequest() {
    MutexLock lock(mutex_);
    return std::exchange(stopRequested_, false);
}

void RunLoop::runPass(TimeInterval now) {
    {
        MutexLock lock(mutex_);
        pending_ = false;
    }
    if (isMain_ && Thread::isMainThread()) DispatchQueue::main().runQueued();

    struct Due {
        TimeInterval date;
        std::uint64_t order;
        std::shared_ptr<Timer> timer;
    };
    std::vector<Due> due;
    {
        MutexLock lock(mutex_);
        for (const auto& timer : timers_) {
            const TimeInterval date = timer->fireDate();
            if (date <= now + Timer::dueTolerance) due.push_back({date, timer->order(), timer});
        }
    }
    std::sort(due.begin(), due.end(), [](const Due& a, const Due& b) {
        return a.date != b.date ? a.date < b.date : a.order < b.order;
    });
    for (const auto& d : due) d.timer->fireScheduled(now);
}

void RunLoop::runUntil(TimeInterval date) {
    {
        MutexLock lock(mutex_);
        ++running_;
    }
    for (;;) {
        runPass(Clock::now());
        if (takeStopRequest()) break;
        if (!isMain_ && timerCount() == 0) break;
        if (Clock::isVirtual()) {
            if (!advanceVirtualTime(date)) break;
        } else {
            if (Clock::now() >= date) break;
            waitUntil(std::min(nextFireDate().value_or(date), date));
        }
    }
    MutexLock lock(mutex_);
    if (--running_ == 0) stopRequested_ = false; // a stop that came too late is not kept for the next run
}

// Returns false when the run ends at `date`.
bool RunLoop::advanceVirtualTime(TimeInterval date) {
    {
        MutexLock lock(mutex_);
        if (pending_) return true; // blocks or timers came in during the pass: another pass at this time
    }
    const std::optional<TimeInterval> next = nextFireDate();
    if (!next || *next > date + Timer::dueTolerance) {
        if (std::isfinite(date)) Clock::jumpTo(date);
        return false;
    }
    Clock::jumpTo(*next);
    return true;
}

void RunLoop::waitUntil(TimeInterval date) {
    using namespace std::chrono;
    MutexLock lock(mutex_);
    if (!std::isfinite(date)) {
        while (!pending_ && !stopRequested_) wake_.wait(mutex_);
        return;
    }
    const auto deadline =
        steady_clock::time_point(duration_cast<steady_clock::duration>(duration<double>(date)));
    while (!pending_ && !stopRequested_)
        if (wake_.wait_until(mutex_, deadline) == std::cv_status::timeout) return;
}
