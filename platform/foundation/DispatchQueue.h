#pragma once

#include <cstddef>
#include <deque>
#include <functional>

#include "platform/foundation/Mutex.h"

// The main queue: a serial first-in-first-out queue of blocks that any
// thread may post to and that runs on the main thread whenever the main run
// loop runs (or a test drains it).
class DispatchQueue {
public:
    using Block = std::function<void()>;

    static DispatchQueue& main();

    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    // Queues the block and returns at once; it never runs inside this call.
    void async(Block block);

    // Runs queued blocks on the calling thread, which must be the main thread,
    // until none is left (blocks queued meanwhile included) and returns how
    // many ran. On any other thread it runs nothing and returns 0.
    std::size_t drain();

    std::size_t pendingCount() const;

private:
    friend class RunLoop;

    DispatchQueue() = default;

    // Runs the blocks that were queued when it starts; later ones wait for the next pass.
    std::size_t runQueued();
    bool runOne();

    mutable Mutex mutex_;
    std::deque<Block> blocks_ GUARDED_BY(mutex_);
};
