#include "platform/foundation/DispatchQueue.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <utility>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"

namespace {
// The queue whose block the current thread is running, if any.
thread_local const DispatchQueue* currentQueue = nullptr;

void run(const DispatchQueue::Block& block, const std::string& label) {
    // A block that throws must not take the queue's thread down with it.
    try {
        block();
    } catch (const std::exception& error) {
        std::printf("DispatchQueue::ERROR: A block on '%s' threw: %s\n", label.c_str(), error.what());
        std::fflush(stdout);
    } catch (...) {
        std::printf("DispatchQueue::ERROR: A block on '%s' threw something that is no exception.\n",
                    label.c_str());
        std::fflush(stdout);
    }
}
} // namespace

DispatchQueue& DispatchQueue::main() {
    // Never destroyed: other threads may still post while the program exits.
    static DispatchQueue* const queue = new DispatchQueue(Kind::main, "com.apple.main-thread", 0);
    return *queue;
}

DispatchQueue& DispatchQueue::global() {
    static DispatchQueue* const queue =
        new DispatchQueue(Kind::concurrent, "com.apple.root.default-qos",
                          std::clamp<std::size_t>(std::thread::hardware_concurrency(), 2, 4));
    return *queue;
}

DispatchQueue::DispatchQueue(std::string label) : DispatchQueue(Kind::serial, std::move(label), 1) {}

DispatchQueue::DispatchQueue(std::string label, std::size_t threads)
    : DispatchQueue(Kind::concurrent, std::move(label), std::max<std::size_t>(threads, 1)) {}

DispatchQueue::DispatchQueue(Kind kind, std::string label, std::size_t threads)
    : kind_(kind), label_(std::move(label)) {
    for (std::size_t i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
}

DispatchQueue::~DispatchQueue() {
    {
        MutexLock lock(mutex_);
        stopping_ = true;
    }
    ready_.notify_all();
    for (auto& worker : workers_) worker.join();
}

void DispatchQueue::work() {
    currentQueue = this;
    for (;;) {
        Block block;
        {
            MutexLock lock(mutex_);
            while (!stopping_ && blocks_.empty()) ready_.wait(mutex_);
            if (blocks_.empty()) return; // stopping, and everything queued has run
            block = std::move(blocks_.front());
            blocks_.pop_front();
        }
        run(block, label_);
    }
}

bool DispatchQueue::isCurrent() const {
    return kind_ == Kind::main ? Thread::isMainThread() : currentQueue == this;
}

void DispatchQueue::async(Block block) {
    if (!block) return;
    {
        MutexLock lock(mutex_);
        blocks_.push_back(std::move(block));
    }
    if (kind_ == Kind::main)
        RunLoop::main().wakeUp();
    else
        ready_.notify_one();
}

void DispatchQueue::sync(const Block& block) {
    if (!block) return;
    if (isCurrent()) {
        run(block, label_);
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    async([&] {
        run(block, label_);
        // Notified under the lock: the waiter's stack frame (the mutex and the
        // condition variable) may go as soon as it sees `done`.
        std::lock_guard lock(doneMutex);
        done = true;
        doneSignal.notify_one();
    });
    std::unique_lock lock(doneMutex);
    doneSignal.wait(lock, [&] { return done; });
}

std::size_t DispatchQueue::pendingCount() const {
    MutexLock lock(mutex_);
    return blocks_.size();
}

bool DispatchQueue::runOne() {
    Block block;
    {
        MutexLock lock(mutex_);
        if (blocks_.empty()) return false;
        block = std::move(blocks_.front());
        blocks_.pop_front();
    }
    run(block, label_); // outside the lock: a block may post further blocks
    return true;
}

std::size_t DispatchQueue::runQueued() {
    std::size_t ran = 0;
    for (std::size_t queued = pendingCount(); ran < queued && runOne(); ++ran) {
    }
    return ran;
}

std::size_t DispatchQueue::drain() {
    if (kind_ != Kind::main || !Thread::isMainThread()) return 0;
    std::size_t ran = 0;
    while (runOne()) ++ran;
    return ran;
}
