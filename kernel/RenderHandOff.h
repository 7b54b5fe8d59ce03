#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

// Hands a value (a host's block) from the threads that set it to the render
// thread. The render thread borrows the value set last without a lock, an
// allocation or a reference of its own, so a replaced value is always let go
// by a setter, never while rendering. One render thread at a time.
template <class T> class RenderHandOff {
public:
    RenderHandOff() = default;
    RenderHandOff(const RenderHandOff&) = delete;
    RenderHandOff& operator=(const RenderHandOff&) = delete;
    ~RenderHandOff() { delete current_.load(std::memory_order_acquire); }

    // Any thread but the render thread.
    void set(T value) {
        auto fresh = std::make_unique<T>(std::move(value));
        std::lock_guard lock(mutex_);
        retired_.reserve(retired_.size() + 1);
        if (T* old = current_.exchange(fresh.release(), std::memory_order_seq_cst)) retired_.emplace_back(old);
        // The value the render thread still borrows waits for a later set.
        const T* const borrowed = borrowed_.load(std::memory_order_seq_cst);
        std::erase_if(retired_, [borrowed](const std::unique_ptr<T>& old) { return old.get() != borrowed; });
    }

    // The render thread: the value set last (null when none was), valid until
    // release(). A value is announced as borrowed before it is taken, and taken
    // only if it is still the current one, so no setter frees it meanwhile.
    const T* borrow() noexcept {
        T* value = current_.load(std::memory_order_seq_cst);
        for (;;) {
            borrowed_.store(value, std::memory_order_seq_cst);
            T* const again = current_.load(std::memory_order_seq_cst);
            if (again == value) return value;
            value = again;
        }
    }
    void release() noexcept { borrowed_.store(nullptr, std::memory_order_release); }

private:
    std::atomic<T*> current_{nullptr};
    std::atomic<const T*> borrowed_{nullptr};
    std::mutex mutex_;
    std::vector<std::unique_ptr<T>> retired_; // replaced, freed once not borrowed
};
