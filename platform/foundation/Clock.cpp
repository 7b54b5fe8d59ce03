#include "platform/foundation/Clock.h"

#include <chrono>

#include "platform/foundation/RunLoop.h"

namespace {
std::atomic<VirtualClock*> installed{nullptr};

TimeInterval realNow() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}
} // namespace

namespace Clock {
TimeInterval now() {
    const VirtualClock* clock = installed.load(std::memory_order_acquire);
    return clock ? clock->now() : realNow();
}

bool isVirtual() { return installed.load(std::memory_order_acquire) != nullptr; }

void jumpTo(TimeInterval date) {
    VirtualClock* clock = installed.load(std::memory_order_acquire);
    if (clock && date > clock->now()) clock->set(date);
}
} // namespace Clock

VirtualClock::VirtualClock() : now_(Clock::now()), previous_(installed.exchange(this)) {}

VirtualClock::~VirtualClock() { installed.store(previous_); }

void VirtualClock::advance(TimeInterval seconds) {
    if (!(seconds >= 0.0)) return;
    RunLoop::current().runUntil(now() + seconds);
}
