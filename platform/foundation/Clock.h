#pragma once

#include <atomic>

// Seconds, as the timers and run loops count them.
using TimeInterval = double;

// The monotonic time that run loops and timers read. It is the real steady
// clock unless a VirtualClock is alive.
namespace Clock {
TimeInterval now();
bool isVirtual();
// Run loops move a virtual clock forward to the next fire date; a real clock
// ignores this, and time never goes backwards.
void jumpTo(TimeInterval date);
} // namespace Clock

// Takes over the clock while it lives, so tests move time by hand and timers
// fire deterministically: run loops then jump to the next fire date instead
// of sleeping. It starts at the real time of its creation, so timers scheduled
// before it keep their place. Only one thread at a time should drive it.
class VirtualClock {
public:
    VirtualClock();
    ~VirtualClock();
    VirtualClock(const VirtualClock&) = delete;
    VirtualClock& operator=(const VirtualClock&) = delete;

    TimeInterval now() const { return now_.load(std::memory_order_acquire); }

    // Runs the calling thread's run loop through the next `seconds` of virtual
    // time: every timer that falls due fires in order (and on the main thread
    // the main queue runs); the clock ends exactly `seconds` later. With 0 it
    // serves what is due now.
    void advance(TimeInterval seconds);

    // Moves the time without running anything.
    void set(TimeInterval time) { now_.store(time, std::memory_order_release); }

private:
    std::atomic<TimeInterval> now_;
    VirtualClock* previous_;
};
