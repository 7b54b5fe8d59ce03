#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Mutex.h"

// First-in-first-out queues of blocks:
// - the main queue runs on the main thread whenever the main run loop runs (or
//   a test drains it);
// - the global queue runs blocks concurrently on a few worker threads;
// - a labelled serial queue runs its blocks one at a time, in order, on a
//   thread of its own; destroying it runs what is queued, then ends the thread;
// - a labelled concurrent queue of its own runs them on its own few threads,
//   so that its work never waits behind the global queue's, nor the other way.
class DispatchQueue {
public:
    using Block = std::function<void()>;

    static DispatchQueue& main();
    // The concurrent queue of default quality of service; never destroyed.
    static DispatchQueue& global();

    // A new serial queue.
    explicit DispatchQueue(std::string label);
    // A new concurrent queue of `threads` (at least one) threads.
    DispatchQueue(std::string label, std::size_t threads);
    ~DispatchQueue();

    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    // Queues the block and returns at once; it never runs inside this call.
    void async(Block block);

    // Runs the block on the queue after everything queued before it and waits
    // for it. Called from the queue's own thread (or, for the main queue, from
    // the main thread) it runs at once instead of waiting on itself forever.
    void sync(const Block& block);

    // Runs queued blocks on the calling thread, which must be the main thread,
    // until none is left (blocks queued meanwhile included) and returns how
    // many ran. On any other thread, or for another queue, it runs nothing.
    std::size_t drain();

    std::size_t pendingCount() const;
    const std::string& label() const { return label_; }
    // True on a thread that runs this queue's blocks.
    bool isCurrent() const;

private:
    friend class RunLoop;
    enum class Kind { main, serial, concurrent };

    DispatchQueue(Kind kind, std::string label, std::size_t threads);

    // Runs the blocks that were queued when it starts; later ones wait for the next pass.
    std::size_t runQueued();
    bool runOne();
    void work();

    const Kind kind_;
    const std::string label_;
    mutable Mutex mutex_;
    std::condition_variable_any ready_;
    std::deque<Block> blocks_ GUARDED_BY(mutex_);
    bool stopping_ GUARDED_BY(mutex_) = false;
    std::vector<std::thread> workers_;
};
