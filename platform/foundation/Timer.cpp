#include "platform/foundation/Timer.h"

#include <cmath>
#include <utility>

#include "platform/foundation/RunLoop.h"

namespace {
std::atomic<long> liveTimers{0};

TimeInterval usableInterval(TimeInterval interval) {
    return interval >= Timer::minimumInterval ? interval : Timer::minimumInterval; // NaN too
}
} // namespace

std::shared_ptr<Timer> Timer::scheduledTimer(TimeInterval interval, bool repeats, Block block) {
    auto timer = std::make_shared<Timer>(interval, repeats, std::move(block));
    RunLoop::current().add(timer);
    return timer;
}

Timer::Timer(TimeInterval interval, bool repeats, Block block)
    : interval_(usableInterval(interval)), repeats_(repeats),
      block_(block ? std::make_shared<Block>(std::move(block)) : nullptr) {
    liveTimers.fetch_add(1, std::memory_order_relaxed);
}

Timer::~Timer() { liveTimers.fetch_sub(1, std::memory_order_relaxed); }

long Timer::liveCount() { return liveTimers.load(std::memory_order_relaxed); }

TimeInterval Timer::fireDate() const {
    MutexLock lock(mutex_);
    return anchor_ + static_cast<double>(ticks_) * interval_;
}

std::shared_ptr<Timer::Block> Timer::currentBlock() const {
    MutexLock lock(mutex_);
    return block_;
}

std::uint64_t Timer::order() const {
    MutexLock lock(mutex_);
    return order_;
}

bool Timer::dueAt(TimeInterval now) const {
    return anchor_ + static_cast<double>(ticks_) * interval_ <= now + dueTolerance;
}

bool Timer::schedule(RunLoop* loop, TimeInterval now, std::uint64_t order) {
    MutexLock lock(mutex_);
    if (loop_ || !isValid()) return false;
    loop_ = loop;
    anchor_ = now;
    ticks_ = 1;
    order_ = order;
    return true;
}

void Timer::fire() {
    // Our own reference keeps the block's captures alive even when the block
    // invalidates this timer while it runs.
    if (auto block = currentBlock(); block && isValid()) (*block)(*this);
    if (!repeats_) invalidate();
}

void Timer::fireScheduled(TimeInterval now) {
    if (!isValid()) return;
    fire();
    if (!repeats_) return;
    MutexLock lock(mutex_);
    if (!dueAt(now)) return;
    // Skip fire dates the loop was too busy to serve, then the next one.
    const double behind = std::floor((now - anchor_) / interval_);
    if (behind > static_cast<double>(ticks_)) ticks_ = static_cast<std::uint64_t>(behind);
    while (dueAt(now)) ++ticks_;
}

void Timer::invalidate() {
    if (!valid_.exchange(false, std::memory_order_acq_rel)) return;
    std::shared_ptr<Block> released;
    RunLoop* loop = nullptr;
    {
        MutexLock lock(mutex_);
        released = std::move(block_);
        loop = std::exchange(loop_, nullptr);
    }
    if (loop) loop->remove(this); // may drop the last reference to this timer
    // `released` goes last, outside every lock: its captures may schedule or invalidate timers.
}
