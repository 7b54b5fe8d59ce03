#pragma once

#include <atomic>

// Hands whole frames from one writer thread to one reader thread without a
// lock, an allocation or a wait on either side. Each side holds a slot of its
// own; the third sits in the middle. The writer fills its slot and swaps it
// into the middle; the reader swaps the middle out when it holds a frame the
// reader has not taken yet. Frames the reader never took are overwritten, so
// it always sees the newest complete one and never a torn one.
template <class Frame> class TripleBuffer {
public:
    TripleBuffer() = default;
    TripleBuffer(const TripleBuffer&) = delete;
    TripleBuffer& operator=(const TripleBuffer&) = delete;

    // The writer's slot, to fill before publish(); it keeps what the writer
    // left in it two publishes ago, or less, so fill it whole.
    Frame& writeSlot() noexcept { return slots_[back_]; }
    void publish() noexcept {
        back_ = middle_.exchange(back_ | kFresh, std::memory_order_acq_rel) & kSlot;
    }

    // The reader's slot: the frame taken last (zero-initialised before any).
    Frame& readSlot() noexcept { return slots_[front_]; }
    // Takes the newest published frame into the reader's slot; false, and the
    // slot kept, when nothing was published since the last take.
    bool takeNewest() noexcept {
        if ((middle_.load(std::memory_order_acquire) & kFresh) == 0) return false;
        front_ = middle_.exchange(front_, std::memory_order_acq_rel) & kSlot;
        return true;
    }

private:
    static constexpr unsigned kSlot = 3, kFresh = 4;

    Frame slots_[3]{};
    unsigned back_ = 0;                 // the writer's alone
    unsigned front_ = 1;                // the reader's alone
    std::atomic<unsigned> middle_{2};   // the slot in between, with kFresh until taken
};
