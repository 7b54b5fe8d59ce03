#pragma once

#include <chrono>
#include <ctime>

// A budget of this thread's processor time for a piece of work that a
// library does in calls to us, looked at every so many calls, since reading
// the clock costs a system call. Work the library does between the calls is
// not seen until the next one.
class ProcessorTimeBudget {
public:
    ProcessorTimeBudget(std::chrono::nanoseconds budget, unsigned every) : budget_(budget), every_(every) {
        restart();
    }

    void restart() {
        started_ = now();
        calls_ = 0;
    }

    // Counts one call; true once the budget has been found spent.
    bool spent() { return ++calls_ % every_ == 0 && now() - started_ > budget_; }

private:
    static std::chrono::nanoseconds now() {
        timespec time{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
        return std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec);
    }

    const std::chrono::nanoseconds budget_;
    const unsigned every_;
    std::chrono::nanoseconds started_{0};
    unsigned calls_ = 0;
};
