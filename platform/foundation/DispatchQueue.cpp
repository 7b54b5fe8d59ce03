#include "platform/foundation/DispatchQueue.h"

#include <utility>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"

DispatchQueue& DispatchQueue::main() {
    // Never destroyed: other threads may still post while the program exits.
    static DispatchQueue* const queue = new DispatchQueue();
    return *queue;
}

void DispatchQueue::async(Block block) {
    if (!block) return;
    {
        MutexLock lock(mutex_);
        blocks_.push_back(std::move(block));
    }
    RunLoop::main().wakeUp();
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
    block(); // outside the lock: a block may post further blocks
    return true;
}

std::size_t DispatchQueue::runQueued() {
    std::size_t ran = 0;
    for (std::size_t queued = pendingCount(); ran < queued && runOne(); ++ran) {
    }
    return ran;
}

std::size_t DispatchQueue::drain() {
    if (!Thread::isMainThread()) return 0;
    std::size_t ran = 0;
    while (runOne()) ++ran;
    return ran;
}
