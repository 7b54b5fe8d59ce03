#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <memory>

#include "platform/foundation/Mutex.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Timer.h"

// What a render thread has to say, carried to a thread that may print: a
// fixed ring the render thread writes without a lock, an allocation or a
// wait. A report that finds the ring full is counted, not kept. One render
// thread at a time records; any other thread may drain.
template <class Report, std::size_t Capacity> class RenderReports {
public:
    // The render thread.
    void record(const Report& report) noexcept {
        const std::size_t w = written_.load(std::memory_order_relaxed);
        if (w - read_.load(std::memory_order_acquire) >= Capacity) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        ring_[w % Capacity] = report;
        written_.store(w + 1, std::memory_order_release);
    }

    // Hands every waiting report to `show`, oldest first, and answers how many
    // were dropped since the last drain (all of them after those shown).
    template <class Show> std::size_t drain(Show&& show) EXCLUDES(mutex_) {
        MutexLock lock(mutex_);
        for (std::size_t r = read_.load(std::memory_order_relaxed);
             r != written_.load(std::memory_order_acquire); ++r) {
            const Report report = ring_[r % Capacity];
            read_.store(r + 1, std::memory_order_release);
            show(report);
        }
        return dropped_.exchange(0, std::memory_order_relaxed);
    }

private:
    std::array<Report, Capacity> ring_{};
    std::atomic<std::size_t> written_{0}, read_{0}, dropped_{0};
    Mutex mutex_; // one drain at a time
};

// A repeating timer on the main run loop that runs `print` over the reports
// every `interval` while they live; invalidate it to stop.
template <class Reports>
std::shared_ptr<Timer> printOnMainLoop(const std::shared_ptr<Reports>& reports, TimeInterval interval,
                                       void (*print)(Reports&)) {
    auto timer = std::make_shared<Timer>(interval, true, [weak = std::weak_ptr<Reports>(reports), print](Timer&) {
        if (const auto held = weak.lock()) print(*held);
    });
    RunLoop::main().add(timer);
    return timer;
}
